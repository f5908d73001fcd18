#include "tests/simsupport/DevSim.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace testsim {

namespace {

void sleepMs(int ms) {
    timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool hasOption(const std::vector<std::string>& options, const std::string& name) {
    for (const auto& option : options)
        if (option == name || option.rfind(name + "=", 0) == 0) return true;
    return false;
}

}  // namespace

DevSim::DevSim(std::string stateDir) : stateDir_(std::move(stateDir)) {}

DevSim::~DevSim() {
    stop();
}

bool DevSim::start(const std::vector<std::string>& options, int timeoutSeconds) {
    stop();
    error_.clear();
    std::vector<std::string> argv = {program(), "--state-dir", stateDir_};
    if (!hasOption(options, "--telnet-port")) argv.insert(argv.end(), {"--telnet-port", "0"});
    if (!hasOption(options, "--ssh-port")) argv.insert(argv.end(), {"--ssh-port", "0"});
    argv.insert(argv.end(), options.begin(), options.end());
    ::unlink(statePath("ports").c_str());
    std::string logPath = stateDir_ + ".log";
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        error_ = "fork failed";
        return false;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
        int in = open("/dev/null", O_RDONLY);
        int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in >= 0) dup2(in, 0);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        std::vector<char*> args;
        for (auto& arg : argv) args.push_back(&arg[0]);
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    for (int waited = 0; waited < timeoutSeconds * 1000; waited += 20) {
        if (readPorts()) return true;
        if (!running()) {
            error_ = "devsim ended before it was ready: " + log();
            return false;
        }
        sleepMs(20);
    }
    error_ = "devsim wrote no ports file in time: " + log();
    stop();
    return false;
}

bool DevSim::readPorts() {
    std::ifstream in(statePath("ports"));
    std::string key;
    int value = 0, telnet = 0, ssh = 0;
    while (in >> key >> value) {
        if (key == "telnet") telnet = value;
        if (key == "ssh") ssh = value;
    }
    if (telnet <= 0 || ssh <= 0) return false;
    telnetPort_ = telnet;
    sshPort_ = ssh;
    return true;
}

bool DevSim::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid_, &status, WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return true;
    pid_ = -1;
    return false;
}

int DevSim::stop(int killSeconds) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int waited = 0;; waited += 10) {
        pid_t rc = waitpid(pid_, &status, WNOHANG);
        if (rc == pid_) break;
        if (rc < 0 && errno != EINTR) {
            pid_ = -1;
            return -1;
        }
        if (waited == killSeconds * 1000) kill(pid_, SIGKILL);
        sleepMs(10);
    }
    pid_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void DevSim::writeStateFile(const std::string& name, const std::string& content) const {
    mkdir(stateDir_.c_str(), 0755);
    std::ofstream out(statePath(name), std::ios::binary | std::ios::trunc);
    out << content;
}

std::string DevSim::readStateFile(const std::string& name) const {
    return slurp(statePath(name));
}

bool DevSim::waitForTranscript(const std::string& text, int timeoutMs) const {
    for (int waited = 0;; waited += 20) {
        if (transcript().find(text) != std::string::npos) return true;
        if (waited >= timeoutMs) return false;
        sleepMs(20);
    }
}

std::string DevSim::log() const {
    return slurp(stateDir_ + ".log");
}

}  // namespace testsim
