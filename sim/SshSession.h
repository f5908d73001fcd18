#pragma once
#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/server.h>

#include <string>

class DeviceState;
class SessionHost;
class StopSignal;
class Transcript;
struct DevsimOptions;

// SshSession is one SSH connection of the device: key exchange, password
// authentication with the device's attempt limit (later passwords are
// refused, right or wrong, until the client gives up), then one session
// channel with the family's shell (echoing only when the client asked for
// a pty, as the product's "ssh -T" does not) or the sftp subsystem. At the
// end it closes the channel and gives the client a moment to close the
// connection first, so the client sees an orderly end.
class SshSession {
public:
    // session is owned and freed by this object; the others must outlive it.
    SshSession(ssh_session session, std::string label, DeviceState& state, const DevsimOptions& options,
               Transcript& transcript, SessionHost& host);
    ~SshSession();
    SshSession(const SshSession&) = delete;
    SshSession& operator=(const SshSession&) = delete;

    void run(const StopSignal& stop);

private:
    enum class Request { None, Shell, Sftp };

    bool negotiate(const StopSignal& stop);
    void runShell(const StopSignal& stop);
    void runSftp(const StopSignal& stop);
    bool writeChannel(const char* data, size_t length);
    void finishChannel();
    void pollSession(int milliseconds, bool untilDisconnected);

    static int onPassword(ssh_session, const char* user, const char* password, void* self);
    static int onNone(ssh_session, const char* user, void* self);
    static ssh_channel onChannelOpen(ssh_session, void* self);
    static int onPty(ssh_session, ssh_channel, const char*, int, int, int, int, void* self);
    static int onShell(ssh_session, ssh_channel, void* self);
    static int onSubsystem(ssh_session, ssh_channel, const char* subsystem, void* self);
    static int onExec(ssh_session, ssh_channel, const char* command, void* self);
    static int onEnv(ssh_session, ssh_channel, const char*, const char*, void*) { return 0; }
    static int onWindowChange(ssh_session, ssh_channel, int, int, int, int, void*) { return 0; }

    ssh_session session_;
    ssh_channel channel_ = nullptr;
    std::string label_;
    DeviceState& state_;
    const DevsimOptions& options_;
    Transcript& transcript_;
    SessionHost& host_;
    ssh_server_callbacks_struct serverCallbacks_;
    ssh_channel_callbacks_struct channelCallbacks_;
    int refusedPasswords_ = 0;
    bool authenticated_ = false;
    std::string user_;
    bool pty_ = false;
    Request request_ = Request::None;
};
