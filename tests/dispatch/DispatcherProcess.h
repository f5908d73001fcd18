#pragma once
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// DispatcherProcess runs one dispatcher for a test through the test-only
// runner (tarvo-dispatch-test-runner ROOT --pause-scale=F), so it reads
// the settings file of the test's root and starts every job through the
// test-only job runner with that root. Its standard output and error go
// to files beside the root, readable while it runs. The dispatcher dies
// with the test process (parent-death signal); the destructor ends it
// with SIGTERM (SIGKILL when it does not stop) and reaps it.
namespace dispatchtest {

class DispatcherProcess {
public:
    DispatcherProcess(std::string root, double pauseScale, std::string tag = "dispatch");
    ~DispatcherProcess();
    DispatcherProcess(const DispatcherProcess&) = delete;
    DispatcherProcess& operator=(const DispatcherProcess&) = delete;

    bool start(const std::vector<std::string>& options = {});
    // Starts it as if on another host: in a UTS namespace of its own
    // (unshare -u) with that host name, which its jobs see too. Only
    // where the test may create namespaces (hostsOfTheirOwn()).
    bool startAsHost(const std::string& hostName);
    // Whether startAsHost works here (root with CAP_SYS_ADMIN).
    static bool hostsOfTheirOwn();
    pid_t pid() const { return pid_; }
    void signal(int signal) const;
    // The exit code (128 + signal when killed), or -1 when it did not end
    // within timeoutSeconds.
    int wait(int timeoutSeconds);
    bool running() const { return pid_ > 0 && !ended_; }

    std::string output() const;  // standard output so far
    std::string errors() const;  // standard error so far
    // Polls the output until it holds text (count times); false on time-out.
    bool waitForOutput(const std::string& text, int timeoutSeconds, int count = 1) const;
    // The job runner processes it started that run now (zombies left out).
    std::vector<pid_t> children() const;

private:
    bool launch(std::vector<std::string> prefix, const std::vector<std::string>& options);

    std::string root_, tag_;
    double pauseScale_;
    pid_t pid_ = -1;
    bool ended_ = false;
    int exitCode_ = -1;
};

// The dispatch element of a settings file.
std::string dispatchElement(unsigned maxJobs, const std::string& pollInterval, const std::string& metricsFile);
// settingsXml with config.claimLease set to seconds.
std::string withClaimLease(const std::string& settingsXml, unsigned seconds);
// settingsXml with the dispatch element added before the closing top tag.
std::string withDispatch(const std::string& settingsXml, const std::string& element);
// A Prometheus text file as sample name (with its labels) to value.
std::map<std::string, long long> readMetrics(const std::string& path);
// Occurrences of part in text.
size_t countOf(const std::string& text, const std::string& part);

}  // namespace dispatchtest
