#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace testsim {

// DevSim runs one devsim process for a test. start() launches it with
// --state-dir and the test's options and waits for its ports file; stop()
// (also run by the destructor) ends it with SIGTERM, escalates to SIGKILL
// when it does not end, and reaps it, so no devsim outlives the test. The
// process also dies with the test process (parent-death signal).
//
// The state directory is the device's (see sim/DeviceState.h for its
// files); a test may prepare files in it before start() and read the
// transcript afterwards. devsim's standard error goes to stateDir + ".log".
class DevSim {
public:
    explicit DevSim(std::string stateDir);
    ~DevSim();
    DevSim(const DevSim&) = delete;
    DevSim& operator=(const DevSim&) = delete;

    // options: everything but --state-dir, for example
    // {"--family", "nexa", "--listen", "127.0.0.1"}. Ports default to 0
    // (free ports) unless given. False when devsim ended or did not write
    // its ports file in time; error() and log() tell why.
    bool start(const std::vector<std::string>& options, int timeoutSeconds = 30);
    // SIGTERM, then SIGKILL after killSeconds. The exit status (128 + the
    // signal when killed by one), -1 when nothing was running.
    int stop(int killSeconds = 10);
    bool running();
    pid_t pid() const { return pid_; }

    int telnetPort() const { return telnetPort_; }
    int sshPort() const { return sshPort_; }
    const std::string& stateDir() const { return stateDir_; }
    std::string statePath(const std::string& name) const { return stateDir_ + "/" + name; }
    void writeStateFile(const std::string& name, const std::string& content) const;
    std::string readStateFile(const std::string& name) const;
    std::string transcript() const { return readStateFile("transcript"); }
    // Polls the transcript until it contains text.
    bool waitForTranscript(const std::string& text, int timeoutMs) const;
    std::string log() const;
    const std::string& error() const { return error_; }

    static std::string program() { return TARVO_DEVSIM_PROGRAM; }

private:
    bool readPorts();

    std::string stateDir_;
    pid_t pid_ = -1;
    int telnetPort_ = 0;
    int sshPort_ = 0;
    std::string error_;
};

}  // namespace testsim
