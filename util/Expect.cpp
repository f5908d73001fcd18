#include "util/Expect.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "util/ExpectException.h"
#include "util/ExpectMatcher.h"
#include "util/Pause.h"
#include "util/logEngine.h"

namespace {

constexpr size_t kChunkSize = 512;    // the accumulator grows by at most this per read
constexpr size_t kDrainSize = 65536;  // what one read from the terminal may take
constexpr int kGraceMs = 3000;        // how long a child may take to end
constexpr size_t kPatternCacheSize = 32;
const char* const kInterrupted = "Wait ended by a termination request!";

// A descriptor closed when the scope ends, unless released.
class ScopedFd {
public:
    explicit ScopedFd(int fd = -1) : fd_(fd) {}
    ~ScopedFd() {
        if (fd_ >= 0) close(fd_);
    }
    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// The child's dup2 onto 0, 1 and 2 must not hit a descriptor it still needs,
// which can happen when this process runs with a standard stream closed.
int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// poll() on one descriptor against a deadline: EINTR restarts the wait with
// the time that is left. Returns poll's result; ms < 0 waits without limit.
// An interruptible wait instead returns -1 (errno EINTR) when a termination
// request came. It waits in slices: a signal that arrives just before poll()
// is entered does not interrupt it, and must not leave the wait running.
constexpr int kInterruptSliceMs = 250;

int pollOne(int fd, short events, int ms, short* revents, bool interruptible = false) {
    // nowMs() drops the fraction of the current millisecond: one more keeps
    // the wait from ending before ms have passed.
    long long deadline = ms < 0 ? 0 : nowMs() + ms + 1;
    for (;;) {
        if (interruptible && Pause::interruptRequested()) {
            errno = EINTR;
            return -1;
        }
        pollfd p = {fd, events, 0};
        int left = ms < 0 ? -1 : static_cast<int>(std::max(0LL, deadline - nowMs()));
        const bool sliced = interruptible && (left < 0 || left > kInterruptSliceMs);
        int rc = poll(&p, 1, sliced ? kInterruptSliceMs : left);
        if (rc < 0 && errno == EINTR) continue;
        if (rc == 0 && sliced) continue;
        if (revents) *revents = p.revents;
        return rc;
    }
}

// Everything below runs in the forked child before exec and sticks to calls
// that are safe there (no allocation, no locks, no locale).
void closeInheritedDescriptors(int keepUntilExec) {
    // Marking every descriptor close-on-exec keeps the start-up pipe open
    // until the exec itself, which is what tells the parent the child is set.
    if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
    rlimit limit;
    int last = (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
                   ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 1 << 20))
                   : 65536;
    for (int fd = 3; fd < last; ++fd)
        if (fd != keepUntilExec) close(fd);
}

void resetSignals() {
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

void writeRaw(int fd, const char* text) {
    size_t length = strlen(text);
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

// argv is null-terminated; with search, argv[0] is looked up in PATH.
[[noreturn]] void runChild(const char* path, char* const* argv, bool search, int slave, int startupPipe) {
    // A session of its own makes the child leader of a new process group
    // (group id = its pid) and lets the terminal become its controlling one.
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDOUT_FILENO);
    dup2(slave, STDERR_FILENO);
    resetSignals();  // this program ignores SIGPIPE; the shell must not inherit that
    closeInheritedDescriptors(startupPipe);
    if (search)
        execvp(path, argv);
    else
        execv(path, argv);
    int error = errno;
    writeRaw(STDERR_FILENO, "Execl ends with error! ");
    const char* text = strerrordesc_np(error);
    writeRaw(STDERR_FILENO, text ? text : "unknown error");
    writeRaw(STDERR_FILENO, "\n");
    _exit(1);
}

}  // namespace

Expect::Expect(logEngine* log_)
    : log(log_),
      pid(-1),
      writeFd(-1),
      readFd(-1),
      timeoutMs(60000),
      exitStatus(255),
      accum(&bufferA),
      lastMatchBuffer(&bufferB),
      matched(false),
      pending_(kDrainSize) {
    if (pthread_mutex_init(&mutex, nullptr) == 0)
        mutexReady_ = true;
    else
        logError("Unable to initialize pthread mutex!\n");
}

Expect::~Expect() {
    stop();
    if (mutexReady_) pthread_mutex_destroy(&mutex);
}

// ---- starting a child -------------------------------------------------------

bool Expect::spawn(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* command = nullptr;
    int rc = vasprintf(&command, format, args);
    va_end(args);
    if (rc < 0) throw ExpectException("Cannot spawn vasprintf() failed!");
    std::string text(command);
    free(command);
    return spawn(text);
}

bool Expect::spawn(const std::string& command) {
    if (pid != -1) stop();
    pendingPos_ = pendingEnd_ = 0;
    int child = popen2(command.c_str(), &writeFd, &readFd);
    pid = child < 0 ? -1 : child;
    return child >= 0;
}

bool Expect::spawnArgv(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return false;
    if (pid != -1) stop();
    pendingPos_ = pendingEnd_ = 0;
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int child = startOnTerminal(args[0], args.data(), true, &writeFd, &readFd);
    pid = child < 0 ? -1 : child;
    return child >= 0;
}

int Expect::popen2(const char* command, int* outWriteFd, int* outReadFd) {
    char shell[] = "sh", option[] = "-c";
    char* const args[] = {shell, option, const_cast<char*>(command), nullptr};
    return startOnTerminal("/bin/sh", args, false, outWriteFd, outReadFd);
}

int Expect::startOnTerminal(const char* path, char* const* argv, bool search, int* outWriteFd, int* outReadFd) {
    ScopedFd master(aboveStandardStreams(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)));
    char slaveName[128];
    if (master.get() < 0 || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0 ||
        ptsname_r(master.get(), slaveName, sizeof slaveName) != 0)
        return -1;
    ScopedFd slave(aboveStandardStreams(open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC)));
    int startup[2];
    if (slave.get() < 0 || pipe2(startup, O_CLOEXEC) != 0) return -1;
    ScopedFd startupRead(startup[0]);
    ScopedFd startupWrite(aboveStandardStreams(startup[1]));
    if (startupRead.get() < 0 || startupWrite.get() < 0) return -1;
    // Reads wait in poll() and writes must not block on a child that no
    // longer reads, so the master never blocks.
    if (fcntl(master.get(), F_SETFL, O_NONBLOCK) != 0) return -1;

    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) runChild(path, argv, search, slave.get(), startupWrite.get());

    slave.reset(-1);
    startupWrite.reset(-1);
    // The pipe closes when the child has exec'd (or ended): from then on it
    // is in its own process group, so stop() can always signal the group.
    char byte;
    while (read(startupRead.get(), &byte, 1) < 0 && errno == EINTR) {
    }
    *outWriteFd = master.get();
    *outReadFd = master.release();
    return child;
}

// ---- writing ----------------------------------------------------------------

void Expect::send(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char* text = nullptr;
    int rc = vasprintf(&text, format, args);
    va_end(args);
    if (rc < 0) throw ExpectException("Send failed: Cannot spawn vasprintf() failed!");
    std::string copy(text, static_cast<size_t>(rc));
    free(text);
    writeAll(copy.data(), copy.size());
}

void Expect::send(const std::string& text) {
    writeAll(text.data(), text.size());
}

Expect& Expect::operator<<(const std::string& text) {
    writeAll(text.data(), text.size());
    return *this;
}

void Expect::writeAll(const char* data, size_t length) {
    if (writeFd <= 0) throw ExpectException("Calling send on a closed pipe!!");
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(writeFd, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // The terminal's input queue is full: give the child one silence
        // limit to take more before giving up on the rest.
        if (n < 0 && errno == EAGAIN && pollOne(writeFd, POLLOUT, std::max(0, timeoutMs), nullptr) > 0) continue;
        throw ExpectException("Cannot write the hole string to pipe!");
    }
}

// ---- reading and waiting ----------------------------------------------------

Expect::WaitResult Expect::waitReadable(int milliseconds) {
    if (pendingPos_ < pendingEnd_) return WaitResult::Readable;
    // Hang-up and errors count as readable: the read then sees the end.
    int rc = pollOne(readFd, POLLIN, std::max(0, milliseconds), nullptr, true);
    if (rc < 0 && errno == EINTR) throw ExpectException(kInterrupted);
    if (rc < 0) throw ExpectException("Expect error select ends with -1!!");
    return rc == 0 ? WaitResult::Silence : WaitResult::Readable;
}

void Expect::readFromOutput() {
    if (pid < 0) throw ExpectException("Process not running or EOF reached!");
    while (pendingPos_ == pendingEnd_) {
        ssize_t n = read(readFd, pending_.data(), pending_.size());
        if (n > 0) {
            pendingPos_ = 0;
            pendingEnd_ = static_cast<size_t>(n);
            break;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            if (pollOne(readFd, POLLIN, -1, nullptr, true) < 0 && errno == EINTR) throw ExpectException(kInterrupted);
            continue;
        }
        // 0 or an error: once the child side of the terminal is closed the
        // master reports EIO instead of end of file.
        wait4nClose(true);
        throw ExpectException("EOF reached!");
    }
    size_t take = std::min(kChunkSize, pendingEnd_ - pendingPos_);
    accum->append(pending_.data() + pendingPos_, take);
    pendingPos_ += take;
}

int Expect::notBlockableRead() {
    forgetMatch();
    if (pid < 0) throw ExpectException("Process not running or EOF reached!");
    if (waitReadable(timeoutMs) == WaitResult::Silence) return 0;
    readFromOutput();
    return 1;
}

int Expect::waitForList(ExpectMatcher& matcher) {
    if (pid < 0) throw ExpectException("Process not running or EOF reached!");
    const long long start = nowMs();
    limitReached_ = false;
    lastWaitMs_ = 0;
    // Output kept from before (after a silence, or read by notBlockableRead)
    // may already hold the answer; it must not wait for more.
    // A prompt counts only at the end of everything that has arrived, not
    // at the end of a part of what the last read brought.
    int hit = accum->empty() ? 0 : matcher.scan(accum->data(), accum->size(), allArrivedRead());
    while (hit == 0) {
        if (pid < 0) throw ExpectException("Process not running or EOF reached!");
        // A child that prints something every little while never lets the
        // silence limit run out; the wait limit is checked before every read,
        // so not even a flood of output outlasts it.
        int wait = std::max(0, timeoutMs);
        bool shortened = false;
        if (limitMs > 0) {
            long long left = start + limitMs + 1 - nowMs();  // + 1: see pollOne
            if (left <= 0) {
                limitReached_ = true;
                lastWaitMs_ = nowMs() - start;
                return 0;
            }
            if (left < wait) {
                wait = static_cast<int>(left);
                shortened = true;
            }
        }
        if (waitReadable(wait) == WaitResult::Silence) {
            if (shortened) continue;  // the limit, not a silence of timeoutMs
            lastWaitMs_ = nowMs() - start;
            return 0;
        }
        readFromOutput();
        hit = matcher.scan(accum->data(), accum->size(), allArrivedRead());
    }
    lastWaitMs_ = nowMs() - start;
    takeMatch(matcher.matchStart(), matcher.matchEnd());
    return hit;
}

bool Expect::allArrivedRead() {
    if (pendingPos_ < pendingEnd_) return false;
    short revents = 0;
    // A child that has gone sends nothing more (its terminal may still
    // report itself readable, for the end of the output).
    return pollOne(readFd, POLLIN, 0, &revents) <= 0 || !(revents & POLLIN) || (revents & POLLHUP);
}

void Expect::takeMatch(size_t start, size_t end) {
    matched = true;
    matchSubject_ = accum;
    matchStart_ = start;
    matchEnd_ = end;
    std::swap(accum, lastMatchBuffer);
    accum->clear();
}

void Expect::forgetMatch() {
    if (lastRegex.valid()) returnPattern(std::move(lastRegex));
    lastRegex = pcrepp::Pcre();
    matchSubject_ = nullptr;
    matchStart_ = matchEnd_ = 0;
}

// ---- waiting for patterns ---------------------------------------------------

pcrepp::Pcre Expect::checkOutPattern(const ExpectRegex& regex) {
    for (auto it = patternCache_.begin(); it != patternCache_.end(); ++it) {
        if (it->pattern() == regex.pattern && it->flags() == regex.flags) {
            pcrepp::Pcre compiled = std::move(*it);
            patternCache_.erase(it);
            return compiled;
        }
    }
    pcrepp::Pcre compiled(regex.pattern, regex.flags);
    if (!compiled.valid())
        logError("Invalid pattern /%s/%s: %s\n", regex.pattern.c_str(), regex.flags.c_str(), compiled.error().c_str());
    return compiled;
}

void Expect::returnPattern(pcrepp::Pcre&& compiled) {
    if (!compiled.valid()) return;
    if (patternCache_.size() >= kPatternCacheSize) patternCache_.erase(patternCache_.begin());
    patternCache_.push_back(std::move(compiled));
}

int Expect::expect(const std::vector<ExpectRegex>& list) {
    forgetMatch();
    matched = false;
    if (pid < 0) throw ExpectException("Process not running or EOF reached!");

    // Each pattern is compiled once for the whole wait (or taken from the
    // cache) and goes back to the cache however the wait ends.
    struct CheckedOut {
        Expect& engine;
        std::vector<pcrepp::Pcre> patterns;
        ~CheckedOut() {
            for (auto& p : patterns) engine.returnPattern(std::move(p));
        }
    } checkedOut{*this, {}};
    checkedOut.patterns.reserve(list.size());
    ExpectMatcher matcher;
    for (const ExpectRegex& regex : list) {
        checkedOut.patterns.push_back(checkOutPattern(regex));
        matcher.addPattern(&checkedOut.patterns.back(), regex.atEnd);
    }

    int hit = waitForList(matcher);
    if (hit > 0) lastRegex = std::move(checkedOut.patterns[hit - 1]);
    return hit;
}

bool Expect::expect(const ExpectRegex& regex) {
    return expect(std::vector<ExpectRegex>{regex}) == 1;
}

int Expect::expect(const char* first, ...) {
    std::vector<ExpectRegex> list;
    va_list args;
    va_start(args, first);
    for (const char* text = first; text != nullptr; text = va_arg(args, const char*)) list.emplace_back(text);
    va_end(args);
    return expect(list);
}

int Expect::expect_noreg(const std::string& first, const std::string& second) {
    forgetMatch();
    matched = false;
    if (pid < 0) throw ExpectException("Process not running or EOF reached!");
    ExpectMatcher matcher;
    if (!first.empty()) matcher.addText(first);
    if (!second.empty()) matcher.addText(second);
    return waitForList(matcher);
}

int Expect::expectTexts(const AwaitedText& first, const AwaitedText& second) {
    forgetMatch();
    matched = false;
    if (pid < 0) throw ExpectException("Process not running or EOF reached!");
    ExpectMatcher matcher;
    if (!first.empty()) matcher.addText(first);
    if (!second.empty()) matcher.addText(second);
    return waitForList(matcher);
}

bool Expect::matchAccum(const ExpectRegex& regex) {
    forgetMatch();
    lastRegex = checkOutPattern(regex);
    if (!lastRegex.searchInPlace(accum->data(), accum->size(), 0)) return false;
    matchSubject_ = accum;
    matchStart_ = lastRegex.start(0);
    matchEnd_ = lastRegex.end(0);
    return true;
}

// ---- the accumulator --------------------------------------------------------

std::string Expect::getAccum() const {
    return matched ? *lastMatchBuffer : *accum;
}

void Expect::clearAccum() {
    std::swap(accum, lastMatchBuffer);
    accum->clear();
    forgetMatch();
    matched = false;
}

std::string Expect::getMatch() const {
    if (!matchSubject_ || matchEnd_ > matchSubject_->size() || matchStart_ > matchEnd_) return "";
    return matchSubject_->substr(matchStart_, matchEnd_ - matchStart_);
}

std::string Expect::getMatch(int index) const {
    if (!matchSubject_ || !lastRegex.matched() || index < 0 || index >= lastRegex.matches())
        throw ExpectException("Calling getMatch(int) while no matching exists");
    size_t start = lastRegex.start(index + 1);
    size_t end = lastRegex.end(index + 1);
    if (start == pcrepp::Pcre::npos || end == pcrepp::Pcre::npos || end > matchSubject_->size() || start > end)
        return "";
    return matchSubject_->substr(start, end - start);
}

std::string Expect::getBefore() const {
    if (!matchSubject_) return *accum;
    return matchSubject_->substr(0, std::min(matchStart_, matchSubject_->size()));
}

// ---- ending the child -------------------------------------------------------

bool Expect::lockMutex() {
    return mutexReady_ && pthread_mutex_lock(&mutex) == 0;
}

void Expect::unlockMutex(bool locked) {
    if (locked) pthread_mutex_unlock(&mutex);
}

namespace {
// True once the child has ended; it stays a zombie (not reaped), so its pid,
// and with it the process group id, cannot be taken by another process.
bool hasEnded(int pid) {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    int rc;
    do {
        rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (rc < 0 && errno == EINTR);
    return rc < 0 || info.si_pid != 0;  // an error: nothing left to wait for
}

bool endsWithin(int pid, int ms) {
    if (hasEnded(pid)) return true;
    // A pidfd turns readable when the process ends; without one, look again
    // at growing intervals.
    // Through syscall(): glibc 2.36's <sys/pidfd.h> cannot be used from C++.
    ScopedFd handle(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
    if (handle.get() >= 0) {
        pollOne(handle.get(), POLLIN, ms, nullptr);
        return hasEnded(pid);
    }
    long long deadline = nowMs() + ms;
    for (long sleepUs = 200; nowMs() < deadline; sleepUs = std::min(sleepUs * 2, 50000L)) {
        timespec pause = {0, sleepUs * 1000};
        nanosleep(&pause, nullptr);
        if (hasEnded(pid)) return true;
    }
    return hasEnded(pid);
}
}  // namespace

void Expect::endGroup() {
    if (!hasEnded(pid)) {
        if (killpg(pid, SIGTERM) != 0) logError("Error on kill process group %d! - %s\n", pid, strerror(errno));
        killpg(pid, SIGCONT);  // a stopped member acts on SIGTERM only once continued
        if (!endsWithin(pid, kGraceMs))
            logError("Process group %d still running %d ms after SIGTERM, sending SIGKILL!\n", pid, kGraceMs);
    }
    // Whatever is left of the group goes too. The child is not reaped yet,
    // so the group id still belongs to it.
    if (killpg(pid, SIGKILL) != 0 && !hasEnded(pid)) kill(pid, SIGKILL);
}

void Expect::reapAndClose() {
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid, &status, 0);
    } while (rc < 0 && errno == EINTR);
    if (rc == pid) exitStatus = status;
    // close() is not retried: on Linux the descriptor is gone even when it
    // reports EINTR, and a second close could hit a reused descriptor.
    if (readFd >= 0) close(readFd);
    if (writeFd >= 0 && writeFd != readFd) close(writeFd);
    readFd = writeFd = -1;
    pid = -1;
    pendingPos_ = pendingEnd_ = 0;
}

void Expect::wait4nClose(bool lock) {
    bool locked = lock && lockMutex();
    if (pid != -1) {
        // The output has ended; a child that does not end by itself soon
        // after must not keep the job waiting.
        endsWithin(pid, kGraceMs);
        endGroup();
        reapAndClose();
    }
    unlockMutex(locked);
}

void Expect::stop() {
    bool locked = lockMutex();
    if (pid != -1) {
        endGroup();
        reapAndClose();
    }
    unlockMutex(locked);
}

// ---- logging ----------------------------------------------------------------

void Expect::logError(const char* format, ...) {
    if (!log) return;
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    log->add(logEngine::ERR, buffer);
}
