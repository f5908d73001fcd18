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

PtyProcess::~PtyProcess() {
    kill();
}

bool PtyProcess::start(const std::vector<std::string>& argv) {
    kill();
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
    restart(master_);
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
    readFd_ = -1;
}

}  // namespace testsim
