#include "tests/dispatch/DispatcherProcess.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <thread>

#include "tests/support/TestSupport.h"

namespace dispatchtest {

namespace {
bool reap(pid_t pid, int& exitCode, bool block) {
    int status = 0;
    pid_t r;
    do r = waitpid(pid, &status, block ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r != pid) return false;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

std::vector<pid_t> childrenOf(pid_t pid) {
    std::vector<pid_t> found;
    std::istringstream list(
        testsupport::readFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    pid_t child;
    while (list >> child) {
        std::string stat = testsupport::readFile("/proc/" + std::to_string(child) + "/stat");
        size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z') found.push_back(child);
    }
    return found;
}
}  // namespace

DispatcherProcess::DispatcherProcess(std::string root, double pauseScale, std::string tag)
    : root_(std::move(root)), tag_(std::move(tag)), pauseScale_(pauseScale) {}

DispatcherProcess::~DispatcherProcess() {
    if (!running()) return;
    signal(SIGTERM);
    if (wait(120) < 0) {
        signal(SIGKILL);
        reap(pid_, exitCode_, true);
    }
}

bool DispatcherProcess::start(const std::vector<std::string>& options) {
    return launch({}, options);
}

bool DispatcherProcess::startAsHost(const std::string& hostName) {
    // The shell sets the name inside the new namespace and becomes the
    // dispatcher, so pid() is the dispatcher's.
    return launch({"/usr/bin/unshare", "-u", "/bin/sh", "-c", "hostname \"$0\" && exec \"$@\"", hostName}, {});
}

bool DispatcherProcess::hostsOfTheirOwn() {
    return testsupport::runProcess({"/usr/bin/unshare", "-u", "/bin/sh", "-c", "hostname tarvo-probe"}).exitCode == 0;
}

bool DispatcherProcess::launch(std::vector<std::string> argv, const std::vector<std::string>& options) {
    char scale[64];
    snprintf(scale, sizeof scale, "--pause-scale=%g", pauseScale_);
    argv.insert(argv.end(), {testsupport::builtProgram("tests/tarvo-dispatch-test-runner"), root_, scale});
    argv.insert(argv.end(), options.begin(), options.end());
    const std::string out = root_ + "/" + tag_ + ".out", err = root_ + "/" + tag_ + ".err";
    // Emptied before the start, so output() never shows an earlier run's.
    testsupport::writeFile(out, "");
    testsupport::writeFile(err, "");
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        int in = open("/dev/null", O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0) _exit(127);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    ended_ = false;
    return true;
}

void DispatcherProcess::signal(int signal) const {
    if (running()) kill(pid_, signal);
}

int DispatcherProcess::wait(int timeoutSeconds) {
    if (ended_) return exitCode_;
    if (pid_ <= 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (reap(pid_, exitCode_, false)) {
            ended_ = true;
            return exitCode_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

std::string DispatcherProcess::output() const {
    return testsupport::readFile(root_ + "/" + tag_ + ".out");
}

std::string DispatcherProcess::errors() const {
    return testsupport::readFile(root_ + "/" + tag_ + ".err");
}

bool DispatcherProcess::waitForOutput(const std::string& text, int timeoutSeconds, int count) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (countOf(output(), text) >= static_cast<size_t>(count)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::vector<pid_t> DispatcherProcess::children() const {
    return running() ? childrenOf(pid_) : std::vector<pid_t>{};
}

std::string dispatchElement(unsigned maxJobs, const std::string& pollInterval, const std::string& metricsFile) {
    return "  <dispatch>\n    <maxJobs>" + std::to_string(maxJobs) + "</maxJobs>\n    <pollInterval>" + pollInterval +
           "</pollInterval>\n    <metricsFile>" + metricsFile + "</metricsFile>\n  </dispatch>\n";
}

std::string withClaimLease(const std::string& settingsXml, unsigned seconds) {
    std::string text = settingsXml;
    size_t end = text.find("</config>");
    if (end != std::string::npos) text.insert(end, "  <claimLease>" + std::to_string(seconds) + "</claimLease>\n  ");
    return text;
}

std::string withDispatch(const std::string& settingsXml, const std::string& element) {
    std::string text = settingsXml;
    size_t end = text.rfind("</cordal>");
    if (end != std::string::npos) text.insert(end, element);
    return text;
}

std::map<std::string, long long> readMetrics(const std::string& path) {
    std::map<std::string, long long> values;
    std::istringstream lines(testsupport::readFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t blank = line.rfind(' ');
        if (blank == std::string::npos) continue;
        values[line.substr(0, blank)] = std::stoll(line.substr(blank + 1));
    }
    return values;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

}  // namespace dispatchtest
