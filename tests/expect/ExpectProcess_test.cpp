// What the engine does with processes and descriptors: the child's start,
// ending it (also when it resists), and that nothing is left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/expect/ExpectTestSupport.h"
#include "tests/support/TestSupport.h"
#include "util/Expect.h"
#include "util/ExpectException.h"
#include "util/logEngine.h"

namespace {

using expecttest::nowMs;
using expecttest::raised;

// Reads until the child's output ends; returns everything it wrote.
std::string outputUntilEnd(Expect& engine) {
    std::string message = raised([&] {
        while (true) engine.notBlockableRead();
    });
    EXPECT_EQ(message, "EOF reached!");
    return engine.getAccum();
}

std::vector<std::string> errorLines(const logEngine& log) {
    std::vector<std::string> lines, errors;
    log.fillVector(lines);
    for (const std::string& line : lines)
        if (line.find("ERR - ") != std::string::npos) errors.push_back(line);
    return errors;
}

// A signal state of this process that the child must not inherit; put back
// when the scope ends.
class HostileSignalState {
public:
    HostileSignalState() {
        sigaction(SIGINT, nullptr, &oldInt_);
        sigaction(SIGPIPE, nullptr, &oldPipe_);
        signal(SIGINT, SIG_IGN);
        signal(SIGPIPE, SIG_IGN);
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGUSR1);
        sigaddset(&block, SIGTERM);
        sigprocmask(SIG_BLOCK, &block, &oldMask_);
    }
    ~HostileSignalState() {
        sigprocmask(SIG_SETMASK, &oldMask_, nullptr);
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGPIPE, &oldPipe_, nullptr);
    }

private:
    struct sigaction oldInt_, oldPipe_;
    sigset_t oldMask_;
};

TEST(ExpectProcess, ChildHasItsOwnSessionAndTerminalAndNothingElseOfOurs) {
    int stray = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(stray, 0);
    HostileSignalState hostile;
    Expect engine(nullptr);
    engine.setTimeout(5000);

    // No pipeline: while it starts one, the shell itself holds the pipe.
    ASSERT_TRUE(
        engine.spawn("ls -1 /proc/$$/fd; echo END; cat /proc/$$/stat; "
                     "[ -t 0 ] && [ -t 1 ] && [ -t 2 ] && echo ALL-TTY"));
    int child = engine.pid;
    std::istringstream lines(outputUntilEnd(engine));
    std::string descriptors, line, stat, tty;
    while (std::getline(lines, line) && line != "END\r") descriptors += line;
    std::getline(lines, stat);
    std::getline(lines, tty);
    EXPECT_EQ(descriptors, "0\r1\r2\r") << "only the terminal, not descriptor " << stray;
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string state, ppid, pgrp, session, ttyNr, foreground;
    fields >> state >> ppid >> pgrp >> session >> ttyNr >> foreground;
    EXPECT_EQ(pgrp, std::to_string(child)) << stat;
    EXPECT_EQ(session, std::to_string(child)) << stat;
    EXPECT_EQ(foreground, std::to_string(child)) << "the terminal's foreground group is the child's";
    EXPECT_NE(ttyNr, "0") << "the terminal is the controlling terminal";
    EXPECT_EQ(tty, "ALL-TTY\r");

    engine.clearAccum();
    ASSERT_TRUE(engine.spawn("exec grep -E '^Sig(Ign|Blk)' /proc/self/status"));
    EXPECT_EQ(outputUntilEnd(engine), "SigBlk:\t0000000000000000\r\nSigIgn:\t0000000000000000\r\n");
    close(stray);
}

// Started with its arguments and without a shell: shell syntax in an
// argument stays text, and the child is set up like a shell child.
TEST(ExpectProcess, ArgumentsReachTheProgramLiterallyWithTheSameSetUp) {
    testsupport::TempDir dir;
    const std::string marker = dir.file("PWNED");
    HostileSignalState hostile;
    Expect engine(nullptr);
    engine.setTimeout(5000);
    ASSERT_TRUE(engine.spawnArgv({"printf", "[%s][%s]", "a b;touch " + marker + ";#", "$(touch " + marker + ")"}));
    EXPECT_EQ(outputUntilEnd(engine), "[a b;touch " + marker + ";#][$(touch " + marker + ")]");
    EXPECT_FALSE(testsupport::fileExists(marker));

    engine.clearAccum();
    ASSERT_TRUE(engine.spawnArgv({"grep", "-E", "^Sig(Ign|Blk)", "/proc/self/status"}));
    EXPECT_EQ(outputUntilEnd(engine), "SigBlk:\t0000000000000000\r\nSigIgn:\t0000000000000000\r\n");
    EXPECT_FALSE(engine.spawnArgv({}));

    // A program that is not found ends at once with the exec error.
    engine.clearAccum();
    ASSERT_TRUE(engine.spawnArgv({"no-such-program-here"}));
    std::string output = outputUntilEnd(engine);
    EXPECT_NE(output.find("Execl ends with error! No such file or directory"), std::string::npos) << output;
}

TEST(ExpectProcess, StopEndsAChildThatIgnoresSigterm) {
    logEngine log;
    Expect engine(&log);
    engine.setTimeout(5000);
    ASSERT_TRUE(engine.spawn("trap '' TERM; echo READY; while :; do sleep 1; done"));
    ASSERT_EQ(engine.expect_noreg("READY", ""), 1);
    int child = engine.pid;
    long long start = nowMs();
    engine.stop();
    EXPECT_GE(nowMs() - start, 3000) << "the child gets a grace period";
    EXPECT_EQ(engine.pid, -1);
    EXPECT_EQ(engine.readFd, -1);
    EXPECT_TRUE(WIFSIGNALED(engine.getExitCode()) && WTERMSIG(engine.getExitCode()) == SIGKILL);
    EXPECT_FALSE(expecttest::running(child));
    std::vector<std::string> errors = errorLines(log);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("SIGKILL"), std::string::npos) << errors[0];
}

TEST(ExpectProcess, StopEndsTheWholeGroupAlsoASubshellThatIgnoresSigterm) {
    Expect engine(nullptr);
    engine.setTimeout(5000);
    ASSERT_TRUE(engine.spawn("(trap '' TERM; exec sleep 30) & echo PID=$!; wait"));
    ASSERT_EQ(engine.expect("/PID=(\\d+)\\r/", nullptr), 1);
    int subshell = std::atoi(engine.getMatch(0).c_str());
    ASSERT_TRUE(expecttest::running(subshell));
    engine.stop();
    EXPECT_TRUE(WIFSIGNALED(engine.getExitCode()) && WTERMSIG(engine.getExitCode()) == SIGTERM)
        << "the shell itself ends on SIGTERM";
    EXPECT_TRUE(expecttest::endsWithin(subshell, 2000)) << "the rest of the group is killed";
}

TEST(ExpectProcess, StopLetsAStoppedChildActOnSigterm) {
    Expect engine(nullptr);
    engine.setTimeout(5000);
    ASSERT_TRUE(engine.spawn("echo READY; kill -STOP $$; echo never"));
    ASSERT_EQ(engine.expect_noreg("READY", ""), 1);
    int child = engine.pid;
    for (int i = 0; i < 500 && expecttest::statFields(child).at(0) != "T"; ++i) usleep(2000);
    ASSERT_EQ(expecttest::statFields(child).at(0), "T");
    engine.stop();
    EXPECT_TRUE(WIFSIGNALED(engine.getExitCode()) && WTERMSIG(engine.getExitCode()) == SIGTERM)
        << "continued, it ends on SIGTERM instead of waiting for SIGKILL";
}

TEST(ExpectProcess, StopAfterTheChildEndedJustReapsIt) {
    logEngine log;
    Expect engine(&log);
    engine.stop();  // nothing running: nothing to do
    ASSERT_TRUE(engine.spawn("exit 7"));
    int child = engine.pid;
    ASSERT_TRUE(expecttest::endsWithin(child, 5000));
    engine.stop();
    EXPECT_EQ(engine.getExitCode(), 7 << 8);
    EXPECT_EQ(engine.pid, -1);
    engine.stop();
    EXPECT_EQ(engine.getExitCode(), 7 << 8);
    EXPECT_TRUE(errorLines(log).empty()) << errorLines(log)[0];
}

TEST(ExpectProcess, OutputEndingWhileTheChildLivesOnDoesNotHang) {
    Expect engine(nullptr);
    engine.setTimeout(5000);
    ASSERT_TRUE(engine.spawn("exec 0<&- 1>&- 2>&-; exec sleep 30"));
    long long start = nowMs();
    EXPECT_EQ(raised([&] { engine.expect("anything", nullptr); }), "EOF reached!");
    EXPECT_GE(nowMs() - start, 3000) << "a grace period to end by itself";
    EXPECT_TRUE(WIFSIGNALED(engine.getExitCode()) && WTERMSIG(engine.getExitCode()) == SIGTERM);
}

TEST(ExpectProcess, SpawningAgainEndsTheChildStillRunning) {
    Expect engine(nullptr);
    ASSERT_TRUE(engine.spawn("exec sleep 30"));
    int first = engine.pid;
    ASSERT_TRUE(engine.spawn("exec sleep 30"));
    EXPECT_NE(engine.pid, first);
    EXPECT_FALSE(expecttest::running(first));
    EXPECT_TRUE(expecttest::running(engine.pid));
}

TEST(ExpectProcess, DescriptorsBeyondTheSelectLimitWork) {
    rlimit old;
    getrlimit(RLIMIT_NOFILE, &old);
    if (old.rlim_max != RLIM_INFINITY && old.rlim_max < 1200) GTEST_SKIP() << "descriptor limit too low";
    rlimit raised = {std::max<rlim_t>(old.rlim_cur, 1200), old.rlim_max};
    setrlimit(RLIMIT_NOFILE, &raised);
    std::vector<int> fillers;
    for (int fd = 0; fd >= 0 && fd < 1100;) {
        fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        fillers.push_back(fd);
    }
    {
        Expect engine(nullptr);
        engine.setTimeout(5000);
        ASSERT_TRUE(engine.spawn("echo hello; exec sleep 10"));
        EXPECT_GT(engine.readFd, 1024) << "select() could not wait for this descriptor";
        EXPECT_EQ(engine.expect_noreg("hello", ""), 1);
    }
    for (int fd : fillers) close(fd);
    setrlimit(RLIMIT_NOFILE, &old);
}

volatile sig_atomic_t alarms = 0;
void countAlarm(int) {
    alarms = alarms + 1;
}

TEST(ExpectProcess, WaitsAndWritesCarryOnThroughSignals) {
    // SIGALRM every 2 ms without SA_RESTART: every poll, read, write and
    // wait is interrupted many times.
    struct sigaction action = {}, old;
    action.sa_handler = countAlarm;
    sigaction(SIGALRM, &action, &old);
    itimerval every = {{0, 2000}, {0, 2000}}, off = {};
    setitimer(ITIMER_REAL, &every, nullptr);

    Expect engine(nullptr);
    engine.setTimeout(2000);
    ASSERT_TRUE(engine.spawn("stty -echo; sleep 0.2; echo READY; exec wc -c"));
    EXPECT_EQ(engine.expect_noreg("READY", ""), 1);
    std::string lines;
    for (int i = 0; i < 1000; ++i) lines += std::string(99, 'x') + "\n";
    engine.send(lines + "\x04");
    EXPECT_EQ(engine.expect("/100000/", nullptr), 1);
    EXPECT_EQ(raised([&] { engine.expect_noreg("never", ""); }), "EOF reached!") << "wc has ended";
    EXPECT_EQ(engine.getExitCode(), 0);
    ASSERT_TRUE(engine.spawn("exec sleep 30"));
    engine.setTimeout(200);
    EXPECT_EQ(engine.notBlockableRead(), 0);
    engine.stop();
    EXPECT_EQ(WTERMSIG(engine.getExitCode()), SIGTERM);

    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_GT(alarms, 50);
}

TEST(ExpectProcess, TwoHundredChildrenLeaveNoZombieAndNoDescriptor) {
    int before = expecttest::openDescriptors();
    for (int i = 0; i < 200; ++i) {
        Expect engine(nullptr);
        engine.setTimeout(5000);
        ASSERT_TRUE(engine.spawn("exec cat"));
        switch (i % 4) {
            case 0:
                engine.stop();
                break;
            case 1:
                break;  // the destructor ends it
            case 2:
                engine << "ping\n";
                ASSERT_EQ(engine.expect_noreg("ping\r\nping\r\n", ""), 1) << "echo and cat's copy";
                engine.stop();
                break;
            case 3:
                engine << "\x04";  // cat ends at end of input
                ASSERT_EQ(raised([&] {
                              while (true) engine.notBlockableRead();
                          }),
                          "EOF reached!");
                ASSERT_EQ(engine.getExitCode(), 0);
                break;
        }
    }
    EXPECT_EQ(expecttest::openDescriptors(), before);
    EXPECT_TRUE(expecttest::noChildren()) << "every child has been reaped";
}

// Runs check in a forked copy of this process, so that it may lower the
// descriptor limit; the copy's exit code is the number of the failed step.
int inForkedProcess(const std::function<int()>& check) {
    pid_t pid = fork();
    if (pid == 0) _exit(check());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(ExpectProcess, SpawnFailsCleanlyWhenDescriptorsRunOut) {
    int failedStep = inForkedProcess([] {
        int next = dup(0);  // the lowest free descriptor
        close(next);
        rlimit old;
        getrlimit(RLIMIT_NOFILE, &old);
        // A spawn needs four descriptors at once: master, slave and a pipe.
        // Only the spawn itself runs under the lowered limit.
        for (int spare = 0; spare <= 4; ++spare) {
            int openBefore = expecttest::openDescriptors();
            Expect engine(nullptr);
            rlimit lowered = {static_cast<rlim_t>(next + spare), old.rlim_max};
            setrlimit(RLIMIT_NOFILE, &lowered);
            bool started = engine.spawn(std::string("exit 0"));
            setrlimit(RLIMIT_NOFILE, &old);
            int pid = engine.pid;
            engine.stop();
            bool expected = spare == 4;
            if (started != expected) return 10 + spare;
            if (!started && pid != -1) return 20 + spare;
            if (expecttest::openDescriptors() != openBefore) return 30 + spare;
        }
        return expecttest::noChildren() ? 0 : 40;
    });
    EXPECT_EQ(failedStep, 0);
}

}  // namespace
