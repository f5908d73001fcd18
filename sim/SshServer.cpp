#include "sim/SshServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/SshSession.h"
#include "sim/Transcript.h"

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Runs argv with standard input and output on /dev/null, default signal
// handling and no inherited descriptors; its exit status, -1 when it could
// not run.
int runQuietly(const char* const argv[]) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
        }
        long maxFd = sysconf(_SC_OPEN_MAX);
        for (int fd = 3; fd < (maxFd > 0 ? maxFd : 1024); ++fd) ::close(fd);
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool SshServer::makeHostKey(const std::string& path, std::string& error) {
    if (exists(path)) return true;
    // Made under a temporary name and renamed, so an interrupted first start
    // never leaves half a key behind.
    std::string temporary = path + ".new." + std::to_string(getpid());
    ::unlink(temporary.c_str());
    ::unlink((temporary + ".pub").c_str());
    const char* argv[] = {"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", temporary.c_str(), nullptr};
    int status = runQuietly(argv);
    if (status != 0 || !exists(temporary)) {
        error = "ssh-keygen failed (status " + std::to_string(status) + ") making " + path;
        ::unlink(temporary.c_str());
        ::unlink((temporary + ".pub").c_str());
        return false;
    }
    if (::rename((temporary + ".pub").c_str(), (path + ".pub").c_str()) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": " + strerror(errno);
        ::unlink(temporary.c_str());
        ::unlink((temporary + ".pub").c_str());
        return false;
    }
    return true;
}

std::unique_ptr<SshServer> SshServer::create(const std::string& hostKeyPath, std::string& error) {
    if (!makeHostKey(hostKeyPath, error)) return nullptr;
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(hostKeyPath.c_str(), nullptr, nullptr, nullptr, &key) != SSH_OK) {
        error = hostKeyPath + ": not a usable SSH host key";
        return nullptr;
    }
    ssh_key_free(key);
    ssh_bind bind = ssh_bind_new();
    if (!bind) {
        error = "ssh_bind_new failed";
        return nullptr;
    }
    int verbosity = SSH_LOG_NOLOG;
    ssh_bind_options_set(bind, SSH_BIND_OPTIONS_LOG_VERBOSITY, &verbosity);
    if (ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HOSTKEY, hostKeyPath.c_str()) != SSH_OK) {
        error = std::string("host key: ") + ssh_get_error(bind);
        ssh_bind_free(bind);
        return nullptr;
    }
    return std::unique_ptr<SshServer>(new SshServer(bind));
}

SshServer::~SshServer() {
    ssh_bind_free(bind_);
}

void SshServer::serve(int fd, const std::string& label, DeviceState& state, const DevsimOptions& options,
                      Transcript& transcript, SessionHost& host, const StopSignal& stop) {
    // libssh closes the descriptor it is given; it gets a duplicate, so the
    // socket stays the pool's to shut down and close.
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    ssh_session session = ssh_new();
    if (!session) {
        ::close(copy);
        return;
    }
    int rc;
    {
        std::lock_guard<std::mutex> lock(acceptMutex_);
        rc = ssh_bind_accept_fd(bind_, session, copy);
    }
    if (rc != SSH_OK) {
        transcript.event(label, std::string("ssh accept failed: ") + ssh_get_error(bind_));
        ssh_free(session);
        return;
    }
    SshSession(session, label, state, options, transcript, host).run(stop);
}
