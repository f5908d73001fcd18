#pragma once
#include <libssh/libssh.h>
#include <libssh/server.h>

#include <memory>
#include <mutex>
#include <string>

class DeviceState;
class SessionHost;
class StopSignal;
class Transcript;
struct DevsimOptions;

// SshServer is the device's SSH service: libssh's server with the device's
// ed25519 host key, made with ssh-keygen at the first start. The device
// accepts the TCP connections itself (so it can refuse them while down)
// and hands each one to serve().
class SshServer {
public:
    // nullptr with a message when the host key cannot be made or read.
    static std::unique_ptr<SshServer> create(const std::string& hostKeyPath, std::string& error);
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    // Serves one connection until it ends; fd stays owned by the caller.
    void serve(int fd, const std::string& label, DeviceState& state, const DevsimOptions& options,
               Transcript& transcript, SessionHost& host, const StopSignal& stop);

private:
    explicit SshServer(ssh_bind bind) : bind_(bind) {}
    static bool makeHostKey(const std::string& path, std::string& error);

    std::mutex acceptMutex_;
    ssh_bind bind_;
};
