#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "sim/DevsimOptions.h"
#include "sim/Listener.h"
#include "sim/SessionHost.h"
#include "sim/UniqueFd.h"

class Chaos;
class DeviceState;
class FallbackTimer;
class SessionPool;
class SshServer;
class Transcript;

// DeviceServer is the running device. It binds a Telnet and an SSH
// listener on every address (one port each, the same on all addresses),
// writes the ports file, accepts connections and gives each a session
// thread, and carries out reboots: the sessions are closed, connections
// are refused for the downtime, then the device is up again. SSH is served
// only while the device state says so. A NEXA device has a fallback timer
// that reboots it the same way when it runs out. It ends on SIGTERM or
// SIGINT, closing every session first.
class DeviceServer : public SessionHost {
public:
    explicit DeviceServer(DevsimOptions options);
    ~DeviceServer() override;
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    // The exit code: 0 after a stop by signal, 1 when the device could not
    // be set up.
    int run();
    void requestReboot() override;
    FallbackTimer* fallbackTimer() override;
    Chaos* chaos() override { return chaos_.get(); }

private:
    enum class Service { Telnet, Ssh };
    struct Endpoint {
        Service service;
        std::unique_ptr<Listener> listener;
        bool refused;  // the --refuse fault
    };

    bool setUp(std::string& error);
    bool bindService(Service service, int port, std::string& error);
    bool writePorts(std::string& error);
    void applyListening();
    void accept(Endpoint& endpoint);
    void serve(Service service, const std::string& label, int fd, const class StopSignal& stop);
    void reboot(bool byFallbackTimer = false);
    void wake();
    int port(Service service) const;

    DevsimOptions options_;
    std::unique_ptr<DeviceState> state_;
    std::unique_ptr<Transcript> transcript_;
    std::unique_ptr<SshServer> ssh_;
    std::unique_ptr<Chaos> chaos_;
    std::unique_ptr<SessionPool> pool_;
    std::vector<Endpoint> endpoints_;
    UniqueFd wake_;
    UniqueFd signals_;
    std::atomic<bool> rebootRequested_{false};
    std::atomic<bool> fallbackExpired_{false};
    // Declared after everything its expiry touches (wake_, the flag) and
    // reset once the sessions that use it have ended.
    std::unique_ptr<FallbackTimer> fallback_;
    bool down_ = false;
    double upAt_ = 0;
    unsigned long connections_ = 0;
};
