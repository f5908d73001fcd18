#include "dispatch/JobProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace {

// The attributes and file actions of one spawn; destroyed on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

JobProcess::JobProcess(Job job) : job_(std::move(job)) {}

JobProcess::~JobProcess() {
    if (!running()) return;
    terminate();
    int status;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
}

bool JobProcess::start(const std::vector<std::string>& argv, std::string& error) {
    SpawnSetup setup;
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    // The dispatcher blocks the signals it waits for and ignores SIGPIPE;
    // neither may reach the job, which installs its own handling.
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    // A group of its own: a Ctrl-C at the dispatcher's terminal reaches
    // the dispatcher alone, which then ends its jobs in order.
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &setup.actions, &setup.attributes, args.data(), environ);
    if (rc != 0) {
        error = "cannot start '" + argv[0] + "': " + strerror(rc);
        return false;
    }
    pid_ = pid;
    startedAt_ = std::chrono::steady_clock::now();
    return true;
}

void JobProcess::ended(int waitStatus) {
    reaped_ = true;
    endedAt_ = std::chrono::steady_clock::now();
    if (WIFEXITED(waitStatus)) {
        exitCode_ = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        signal_ = WTERMSIG(waitStatus);
    }
}

void JobProcess::terminate() const {
    if (running()) kill(pid_, SIGTERM);
}

double JobProcess::seconds() const {
    auto until = reaped_ ? endedAt_ : std::chrono::steady_clock::now();
    return std::chrono::duration<double>(until - startedAt_).count();
}
