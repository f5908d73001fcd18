#include "tests/support/TestSupport.h"

#include "util/logEngine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

namespace testsupport {

namespace {
void drainInto(int fd, std::string& into, bool& open) {
    char buffer[65536];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0)
        into.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        open = false;
}

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::string sanitize(std::string name) {
    for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    return name;
}
}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, int timeoutSeconds, std::atomic<int>* startedPid) {
    ProcessResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (startedPid) startedPid->store(pid);
    bool outOpen = true, errOpen = true;
    double deadline = now() + timeoutSeconds;
    bool killed = false;
    while (outOpen || errOpen) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        int remaining = static_cast<int>((deadline - now()) * 1000);
        if (remaining <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        int rc = poll(fds, 2, remaining);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) continue;
        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) drainInto(outPipe[0], result.out, outOpen);
        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) drainInto(errPipe[0], result.err, errOpen);
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitCode = 128 + WTERMSIG(status);
    if (killed) result.exitCode = 128 + SIGKILL;
    return result;
}

std::string builtProgram(const std::string& relativePath) {
    return std::string(TARVO_BUILD_DIR) + "/" + relativePath;
}

TempDir::TempDir(const std::string& tag) {
    std::string name = "test";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
        name = std::string(info->test_suite_name()) + "." + info->name();
    if (!tag.empty()) name += "." + tag;
    path_ = std::string(TARVO_BUILD_DIR) + "/test-tmp/" + sanitize(name) + "." + std::to_string(getpid());
    runProcess({"rm", "-rf", path_});
    makeDirs(path_);
}

TempDir::~TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    bool failed = info && info->result() && info->result()->Failed();
    if (!failed) runProcess({"rm", "-rf", path_});
}

std::string logText(const logEngine& log) {
    return unwrappedLog(log.dumpAsString());
}

std::string unwrappedLog(std::string log) {
    const std::string indent = "\n" + std::string(28, ' ');
    for (size_t at; (at = log.find(indent)) != std::string::npos;) log.erase(at, indent.size());
    return log;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void makeDirs(const std::string& path) {
    std::string partial;
    std::stringstream parts(path);
    std::string piece;
    bool absolute = !path.empty() && path[0] == '/';
    while (std::getline(parts, piece, '/')) {
        if (piece.empty()) continue;
        partial += (partial.empty() && !absolute) ? piece : "/" + piece;
        mkdir(partial.c_str(), 0755);
    }
}

}  // namespace testsupport
