#include "sim/SshSession.h"

#include <time.h>

#include <algorithm>
#include <cstring>

#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/ReplyWriter.h"
#include "sim/SessionHost.h"
#include "sim/SftpServer.h"
#include "sim/ShellFactory.h"
#include "sim/StopSignal.h"
#include "sim/Transcript.h"

namespace {

// A client gets this long from its connect to its shell or sftp request.
constexpr int loginGraceSeconds = 120;
// Seconds a blocking libssh step (key exchange) may wait for the client.
constexpr long ioTimeoutSeconds = 30;

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

SshSession::SshSession(ssh_session session, std::string label, DeviceState& state, const DevsimOptions& options,
                       Transcript& transcript, SessionHost& host)
    : session_(session),
      label_(std::move(label)),
      state_(state),
      options_(options),
      transcript_(transcript),
      host_(host) {
    memset(&serverCallbacks_, 0, sizeof serverCallbacks_);
    memset(&channelCallbacks_, 0, sizeof channelCallbacks_);
}

SshSession::~SshSession() {
    if (channel_) ssh_channel_free(channel_);
    ssh_disconnect(session_);
    ssh_free(session_);
}

void SshSession::run(const StopSignal& stop) {
    if (!negotiate(stop)) return;
    if (request_ == Request::Shell)
        runShell(stop);
    else
        runSftp(stop);
}

// Key exchange, authentication and the channel's request, driven by
// libssh's callbacks.
bool SshSession::negotiate(const StopSignal& stop) {
    long timeout = ioTimeoutSeconds;
    ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &timeout);
    // --publickey-only: a server that takes keys only; no key of a client
    // is known to the device, so every login is refused.
    ssh_set_auth_methods(session_, options_.faults.publickeyOnly ? SSH_AUTH_METHOD_PUBLICKEY : SSH_AUTH_METHOD_PASSWORD);
    serverCallbacks_.userdata = this;
    serverCallbacks_.auth_password_function = &SshSession::onPassword;
    serverCallbacks_.auth_none_function = &SshSession::onNone;
    serverCallbacks_.channel_open_request_session_function = &SshSession::onChannelOpen;
    ssh_callbacks_init(&serverCallbacks_);
    ssh_set_server_callbacks(session_, &serverCallbacks_);
    if (ssh_handle_key_exchange(session_) != SSH_OK) {
        transcript_.event(label_, std::string("ssh key exchange failed: ") + ssh_get_error(session_));
        return false;
    }
    ssh_event event = ssh_event_new();
    if (!event) return false;
    ssh_event_add_session(event, session_);
    double deadline = monotonicSeconds() + loginGraceSeconds;
    while (request_ == Request::None && !stop.requested() && monotonicSeconds() < deadline) {
        if (ssh_event_dopoll(event, 100) == SSH_ERROR) break;
        if (!ssh_is_connected(session_)) break;
    }
    ssh_event_remove_session(event, session_);
    ssh_event_free(event);
    if (request_ == Request::None) {
        transcript_.event(label_, authenticated_ ? "ssh connection ended before a shell or sftp request"
                                                 : "ssh connection ended before a login");
        return false;
    }
    return true;
}

namespace {
// How long after the banner the shell's first prompt follows.
const int kBannerGapMs = 300;
}  // namespace

void SshSession::runShell(const StopSignal& stop) {
    Shell::Context context;
    context.session = label_;
    context.echo = pty_;
    context.user = user_;
    context.fallbackTimer = host_.fallbackTimer();
    context.chaos = host_.chaos();
    auto shell = ShellFactory::make(state_, options_, &transcript_, context);
    ReplyWriter writer([this](const char* data, size_t length) { return writeChannel(data, length); },
                       options_.faults.slowReplyMs, stop);
    shell->start();
    // A server prints its banner (the message of the day) before the shell
    // runs: the shell's first prompt comes a moment after it, on its own.
    std::string greeting = shell->takeOutput();
    const size_t promptAt = options_.banner.empty() ? 0 : std::min(shell->greetingPromptOffset(), greeting.size());
    bool clientGone = promptAt > 0 && !writer.write(greeting.substr(0, promptAt));
    clientGone = clientGone || !writer.write(greeting.substr(promptAt), promptAt > 0 ? kBannerGapMs : 0);
    double lastInput = monotonicSeconds();
    char buffer[16384];
    while (!clientGone && shell->ending() == Shell::Ending::None && !stop.requested()) {
        int trickleMs = shell->trickleWaitMs();
        int n = ssh_channel_read_timeout(channel_, buffer, sizeof buffer, 0, trickleMs < 0 ? 100 : std::min(100, trickleMs));
        if (n == SSH_ERROR) {
            clientGone = true;
            break;
        }
        if (n > 0) {
            lastInput = monotonicSeconds();
            shell->receive(buffer, static_cast<size_t>(n));
        } else if (ssh_channel_is_eof(channel_) || !ssh_channel_is_open(channel_)) {
            clientGone = true;
            break;
        } else if (shell->idleTimeoutSeconds() > 0 && monotonicSeconds() - lastInput >= shell->idleTimeoutSeconds()) {
            shell->idleExpired();
        }
        shell->trickle();
        int holdBackMs = shell->takeHoldBackMs();
        if (!writer.write(shell->takeOutput(), holdBackMs)) clientGone = true;
    }
    Shell::Ending ending = shell->ending();
    transcript_.event(label_, clientGone                      ? "client closed the connection"
                              : ending == Shell::Ending::None ? "closed by the device stopping"
                                                              : "closed by the device");
    if (ending == Shell::Ending::Drop) return;  // the line just drops
    if (!clientGone) finishChannel();
    if (ending == Shell::Ending::Reboot) host_.requestReboot();
}

void SshSession::runSftp(const StopSignal& stop) {
    VirtualFs fs(state_.fsRoot());
    SftpServer server(session_, channel_, fs, transcript_, label_, options_.faults);
    // A dropped line just drops.
    if (server.run(stop)) finishChannel();
}

bool SshSession::writeChannel(const char* data, size_t length) {
    while (length > 0) {
        uint32_t piece = static_cast<uint32_t>(std::min<size_t>(length, 32768));
        int n = ssh_channel_write(channel_, data, piece);
        if (n == SSH_ERROR || n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// The device ends the session; a client that sees the channel close before
// the connection closes ends quietly instead of reporting a lost
// connection.
void SshSession::finishChannel() {
    if (!channel_ || !ssh_channel_is_open(channel_)) return;
    ssh_channel_request_send_exit_status(channel_, 0);
    ssh_channel_send_eof(channel_);
    ssh_channel_close(channel_);
    pollSession(2000, true);
}

void SshSession::pollSession(int milliseconds, bool untilDisconnected) {
    ssh_event event = ssh_event_new();
    if (!event) return;
    ssh_event_add_session(event, session_);
    double deadline = monotonicSeconds() + milliseconds / 1000.0;
    while (monotonicSeconds() < deadline) {
        if (ssh_event_dopoll(event, 100) == SSH_ERROR) break;
        if (untilDisconnected && !ssh_is_connected(session_)) break;
    }
    ssh_event_remove_session(event, session_);
    ssh_event_free(event);
}

int SshSession::onPassword(ssh_session, const char* user, const char* password, void* self) {
    auto* session = static_cast<SshSession*>(self);
    std::string name = user ? user : "";
    std::string tried = password ? password : "";
    if (session->refusedPasswords_ >= session->options_.maxAuthTries) {
        session->transcript_.event(session->label_,
                                   "ssh password '" + tried + "' for " + name + " refused: no more attempts allowed");
        return SSH_AUTH_DENIED;
    }
    if (session->state_.checkLogin(name, tried)) {
        session->authenticated_ = true;
        session->user_ = name;
        session->transcript_.event(session->label_, "ssh password '" + tried + "' for " + name + " accepted");
        return SSH_AUTH_SUCCESS;
    }
    ++session->refusedPasswords_;
    session->transcript_.event(session->label_, "ssh password '" + tried + "' for " + name + " refused (attempt " +
                                                    std::to_string(session->refusedPasswords_) + " of " +
                                                    std::to_string(session->options_.maxAuthTries) + ")");
    return SSH_AUTH_DENIED;
}

// Users without a password get in without being asked for one.
int SshSession::onNone(ssh_session, const char* user, void* self) {
    auto* session = static_cast<SshSession*>(self);
    std::string name = user ? user : "";
    if (name.empty() || session->state_.passwordRequired(name)) return SSH_AUTH_DENIED;
    session->authenticated_ = true;
    session->user_ = name;
    session->transcript_.event(session->label_, "ssh login for " + name + " without password");
    return SSH_AUTH_SUCCESS;
}

ssh_channel SshSession::onChannelOpen(ssh_session session, void* self) {
    auto* owner = static_cast<SshSession*>(self);
    if (!owner->authenticated_ || owner->channel_) return nullptr;
    owner->channel_ = ssh_channel_new(session);
    if (!owner->channel_) return nullptr;
    auto& callbacks = owner->channelCallbacks_;
    callbacks.userdata = owner;
    callbacks.channel_pty_request_function = &SshSession::onPty;
    callbacks.channel_shell_request_function = &SshSession::onShell;
    callbacks.channel_subsystem_request_function = &SshSession::onSubsystem;
    callbacks.channel_exec_request_function = &SshSession::onExec;
    callbacks.channel_env_request_function = &SshSession::onEnv;
    callbacks.channel_pty_window_change_function = &SshSession::onWindowChange;
    ssh_callbacks_init(&callbacks);
    ssh_set_channel_callbacks(owner->channel_, &callbacks);
    return owner->channel_;
}

int SshSession::onPty(ssh_session, ssh_channel, const char*, int, int, int, int, void* self) {
    static_cast<SshSession*>(self)->pty_ = true;
    return 0;
}

int SshSession::onShell(ssh_session, ssh_channel, void* self) {
    auto* session = static_cast<SshSession*>(self);
    if (session->request_ != Request::None) return 1;
    session->request_ = Request::Shell;
    session->transcript_.event(session->label_, session->pty_ ? "ssh shell with pty" : "ssh shell without pty");
    return 0;
}

int SshSession::onSubsystem(ssh_session, ssh_channel, const char* subsystem, void* self) {
    auto* session = static_cast<SshSession*>(self);
    if (session->request_ != Request::None || !subsystem || strcmp(subsystem, "sftp") != 0) return 1;
    session->request_ = Request::Sftp;
    return 0;
}

int SshSession::onExec(ssh_session, ssh_channel, const char* command, void* self) {
    auto* session = static_cast<SshSession*>(self);
    session->transcript_.event(session->label_, std::string("ssh exec refused: ") + (command ? command : ""));
    return 1;
}
