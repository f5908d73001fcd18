#include "tests/simsupport/PtyProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace testsim {

namespace {

long long nowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

}  // namespace

PtyProcess::~PtyProcess() {
    kill();
}

bool PtyProcess::start(const std::vector<std::string>& argv) {
    kill();
    output_.clear();
    mark_ = 0;
    eof_ = false;
    status_ = -1;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return false;
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
        for (int fd = 3; fd < 1024; ++fd) close(fd);
        std::vector<char*> args;
        std::vector<std::string> copy = argv;
        for (auto& arg : copy) args.push_back(&arg[0]);
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    pid_ = pid;
    master_ = master;
    return true;
}

bool PtyProcess::send(const std::string& text) {
    size_t done = 0;
    long long deadline = nowMs() + 10000;
    while (done < text.size()) {
        ssize_t n = write(master_, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            if (nowMs() > deadline) return false;
            readSome(10);  // the program may wait for us to read first
            continue;
        }
        return false;
    }
    return true;
}

// A read error on the master (EIO once the slave side is closed) means
// the program has closed its terminal: treated as end of file.
bool PtyProcess::readSome(int timeoutMs) {
    if (eof_ || master_ < 0) return false;
    pollfd p = {master_, POLLIN, 0};
    int rc = poll(&p, 1, timeoutMs);
    if (rc < 0 && errno == EINTR) return true;
    if (rc <= 0) return rc == 0;
    char buffer[65536];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) {
        output_.append(buffer, static_cast<size_t>(n));
        return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    eof_ = true;
    return false;
}

bool PtyProcess::expect(const std::string& text, int timeoutMs) {
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
        size_t at = output_.find(text, mark_);
        if (at != std::string::npos) {
            mark_ = at + text.size();
            return true;
        }
        long long left = deadline - nowMs();
        if (left <= 0 || eof_) return false;
        readSome(static_cast<int>(left));
    }
}

bool PtyProcess::waitForEof(int timeoutMs) {
    long long deadline = nowMs() + timeoutMs;
    while (!eof_) {
        long long left = deadline - nowMs();
        if (left <= 0) return false;
        readSome(static_cast<int>(left));
    }
    return true;
}

int PtyProcess::wait(int timeoutMs) {
    if (pid_ <= 0) return status_;
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
        int status = 0;
        pid_t rc = waitpid(pid_, &status, WNOHANG);
        if (rc == pid_) {
            pid_ = -1;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        if (rc < 0 && errno != EINTR) return -1;
        if (nowMs() > deadline) return -1;
        // keep the terminal drained, so the program can finish its output
        if (!readSome(10)) {
            timespec pause = {0, 10000000};
            nanosleep(&pause, nullptr);
        }
    }
}

void PtyProcess::kill() {
    if (pid_ > 0) {
        ::kill(-pid_, SIGTERM);
        if (wait(2000) < 0) {
            ::kill(-pid_, SIGKILL);
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }
    if (master_ >= 0) close(master_);
    master_ = -1;
}

}  // namespace testsim
