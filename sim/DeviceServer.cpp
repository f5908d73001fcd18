#include "sim/DeviceServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "sim/Chaos.h"
#include "sim/DeviceState.h"
#include "sim/FallbackTimer.h"
#include "sim/FirmwareStore.h"
#include "sim/SessionPool.h"
#include "sim/SimLog.h"
#include "sim/SshServer.h"
#include "sim/StateFile.h"
#include "sim/TelnetSession.h"
#include "sim/Transcript.h"

namespace {

constexpr size_t maxSessions = 256;
constexpr int bindAttempts = 50;
constexpr int rebootGraceMs = 1500;
constexpr int stopGraceMs = 1000;
const char* const deviceLabel = "device";

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

}  // namespace

DeviceServer::DeviceServer(DevsimOptions options)
    : options_(std::move(options)), wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

DeviceServer::~DeviceServer() {
    if (pool_) pool_->stopAll(0);
    fallback_.reset();
    if (state_) state_->setSshObserver(nullptr);
}

int DeviceServer::run() {
    signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    // Blocked before any thread starts, so every session thread inherits
    // the mask and the signals reach only this loop.
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    signals_.reset(signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
    std::string error;
    if (!signals_.valid() || !wake_.valid()) {
        SimLog::error("cannot make the event descriptors");
        return 1;
    }
    if (!setUp(error)) {
        SimLog::error(error);
        return 1;
    }
    for (;;) {
        std::vector<pollfd> fds = {{signals_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        std::vector<Endpoint*> polled;
        for (auto& endpoint : endpoints_) {
            if (!endpoint.listener->listening()) continue;
            fds.push_back({endpoint.listener->fd(), POLLIN, 0});
            polled.push_back(&endpoint);
        }
        int timeout = -1;
        if (down_) timeout = std::max(0, static_cast<int>((upAt_ - monotonicSeconds()) * 1000) + 1);
        int rc = ::poll(fds.data(), fds.size(), timeout);
        if (rc < 0 && errno != EINTR) {
            SimLog::error("poll failed");
            break;
        }
        if (rc > 0 && (fds[0].revents & POLLIN)) {
            signalfd_siginfo info;
            ssize_t n = ::read(signals_.get(), &info, sizeof info);
            SimLog::info("signal " + std::to_string(n > 0 ? info.ssi_signo : 0) + ", stopping");
            break;
        }
        if (rc > 0 && (fds[1].revents & POLLIN)) {
            uint64_t value;
            while (::read(wake_.get(), &value, sizeof value) < 0 && errno == EINTR) {
            }
        }
        if (rebootRequested_.exchange(false) && !down_) reboot();
        // A timer that ran out while the device was going down anyway was
        // cleared by that reboot.
        if (fallbackExpired_.exchange(false) && !down_) {
            transcript_->event(deviceLabel, "fallback timer ran out");
            reboot(true);
        }
        pool_->reap();
        if (down_ && monotonicSeconds() >= upAt_) {
            down_ = false;
            state_->recordBoot();
            const std::string software = FirmwareStore::activate(*state_);
            if (!software.empty()) transcript_->event(deviceLabel, software);
            transcript_->event(deviceLabel, "device up again (reboot " + std::to_string(state_->rebootCount()) + ")");
            SimLog::info("up again after reboot " + std::to_string(state_->rebootCount()));
        }
        for (size_t i = 0; i < polled.size(); ++i)
            if (fds[i + 2].revents & POLLIN) accept(*polled[i]);
        applyListening();
    }
    pool_->stopAll(stopGraceMs);
    if (fallback_->cancel()) transcript_->event(deviceLabel, "fallback timer dropped: device stopped");
    fallback_.reset();
    transcript_->event(deviceLabel, "device stopped");
    endpoints_.clear();
    SimLog::info("stopped");
    return 0;
}

bool DeviceServer::setUp(std::string& error) {
    struct stat st;
    if (!options_.transferDir.empty() && (::stat(options_.transferDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
        error = "--transfer-dir: " + options_.transferDir + " is not a directory";
        return false;
    }
    // A ports file of an earlier run must never be taken for this one's.
    ::unlink((options_.stateDir + "/ports").c_str());
    state_ = DeviceState::open(options_, error);
    if (!state_) return false;
    transcript_ = std::make_unique<Transcript>(state_->path("transcript"));
    if (!transcript_->ok()) {
        error = state_->path("transcript") + ": cannot be opened";
        return false;
    }
    ssh_ = SshServer::create(state_->path("ssh_host_ed25519_key"), error);
    if (!ssh_) return false;
    if (options_.chaos) chaos_ = std::make_unique<Chaos>(options_.chaosSeed);
    pool_ = std::make_unique<SessionPool>(maxSessions, [this] { wake(); });
    fallback_ = std::make_unique<FallbackTimer>([this] {
        fallbackExpired_ = true;
        wake();
    });
    state_->setSshObserver([this] { wake(); });
    if (!bindService(Service::Telnet, options_.telnetPort, error) ||
        !bindService(Service::Ssh, options_.sshPort, error))
        return false;
    applyListening();
    if (!writePorts(error)) return false;
    std::string addresses;
    for (const auto& address : options_.listen) addresses += " " + address;
    transcript_->event(deviceLabel, std::string("device up: ") + familyName(state_->family()) + " " +
                                        options_.hostname + " on" + addresses + ", telnet " +
                                        std::to_string(port(Service::Telnet)) + ", ssh " +
                                        std::to_string(port(Service::Ssh)));
    SimLog::info(std::string(familyName(state_->family())) + " device " + options_.hostname + " on" + addresses +
                 ": telnet " + std::to_string(port(Service::Telnet)) + ", ssh " + std::to_string(port(Service::Ssh)) +
                 (state_->sshAvailable() ? "" : " (SSH off)"));
    return true;
}

// One port for the service on every address. A free port of the first
// address may be taken on another one; then the whole set is tried again
// with a new port.
bool DeviceServer::bindService(Service service, int port, std::string& error) {
    for (int attempt = 0; attempt < bindAttempts; ++attempt) {
        std::vector<Endpoint> bound;
        int chosen = port;
        bool retry = false;
        for (const auto& address : options_.listen) {
            bool busy = false;
            auto listener = Listener::bind(address, chosen, error, busy);
            if (!listener) {
                retry = busy && port == 0 && !bound.empty();
                break;
            }
            chosen = listener->port();
            bool refused = false;
            for (const auto& refusedAddress : options_.faults.refusedAddresses) refused |= refusedAddress == address;
            bound.push_back({service, std::move(listener), refused});
        }
        if (bound.size() == options_.listen.size()) {
            for (auto& endpoint : bound) endpoints_.push_back(std::move(endpoint));
            return true;
        }
        if (!retry) return false;
    }
    error = "no port free on every listen address";
    return false;
}

bool DeviceServer::writePorts(std::string& error) {
    return StateFile::writeAtomically(
        state_->path("ports"),
        "telnet " + std::to_string(port(Service::Telnet)) + "\nssh " + std::to_string(port(Service::Ssh)) + "\n",
        error);
}

int DeviceServer::port(Service service) const {
    for (const auto& endpoint : endpoints_)
        if (endpoint.service == service) return endpoint.listener->port();
    return 0;
}

void DeviceServer::applyListening() {
    bool ssh = state_->sshAvailable();
    for (auto& endpoint : endpoints_) {
        bool on = !down_ && !endpoint.refused && (endpoint.service == Service::Telnet || ssh);
        std::string error;
        if (!endpoint.listener->setListening(on, error)) SimLog::error(error);
    }
}

void DeviceServer::accept(Endpoint& endpoint) {
    std::string peer;
    UniqueFd fd = endpoint.listener->accept(peer);
    if (!fd.valid()) return;
    int one = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Service service = endpoint.service;
    std::string label = (service == Service::Telnet ? "telnet#" : "ssh#") + std::to_string(++connections_);
    transcript_->event(label, "connection from " + peer + " to " + endpoint.listener->address() + " port " +
                                  std::to_string(endpoint.listener->port()));
    if (chaos_ && chaos_->onConnection() == Chaos::Fault::DropConnection) {
        // The descriptor closes here: the client sees the line drop before
        // any greeting.
        transcript_->event(label, std::string("chaos: ") + Chaos::name(Chaos::Fault::DropConnection));
        return;
    }
    bool started = pool_->start(std::move(fd), [this, service, label](int socket, const StopSignal& stop) {
        serve(service, label, socket, stop);
    });
    if (!started) transcript_->event(label, "refused: too many sessions");
}

void DeviceServer::serve(Service service, const std::string& label, int fd, const StopSignal& stop) {
    if (service == Service::Telnet)
        TelnetSession(fd, label, *state_, options_, *transcript_, *this).run(stop);
    else
        ssh_->serve(fd, label, *state_, options_, *transcript_, *this, stop);
}

void DeviceServer::requestReboot() {
    rebootRequested_ = true;
    wake();
}

FallbackTimer* DeviceServer::fallbackTimer() {
    if (state_->family() != SimFamily::Nexa || options_.faults.noFallbackTimer) return nullptr;
    return fallback_.get();
}

void DeviceServer::reboot(bool byFallbackTimer) {
    // Whatever restarts the device clears a delayed command still pending.
    if (fallback_->cancel()) transcript_->event(deviceLabel, "fallback timer cleared by the reboot");
    state_->recordShutdown(byFallbackTimer);
    transcript_->event(deviceLabel, "reboot " + std::to_string(state_->rebootCount()) + ": down for " +
                                        std::to_string(options_.rebootDowntimeSeconds) + " seconds");
    SimLog::info("rebooting, down for " + std::to_string(options_.rebootDowntimeSeconds) + " seconds");
    down_ = true;
    applyListening();
    pool_->stopAll(rebootGraceMs);
    upAt_ = monotonicSeconds() + options_.rebootDowntimeSeconds;
}

void DeviceServer::wake() {
    uint64_t one = 1;
    while (::write(wake_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
}
