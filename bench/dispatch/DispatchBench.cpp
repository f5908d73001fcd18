// bench_dispatch: throughput of one tarvo-dispatch against a plain shell
// pipeline (xargs -P) that keeps the same number of job processes
// running. Both start the same "Test" jobs (connect, ten pings, disconnect; the program's
// deliberate pauses scaled as in the tests) through the test-only job
// runner, against the same simulated NEXA routers on a private MariaDB
// server; the jobs take their routers in turn, so neither contender waits
// for a busy router. Prints jobs per minute for both and their ratio
// (goal >= 0.95), the dispatcher's CPU seconds per job and its peak
// resident size, and the peak resident size of one job process.
//
// How to run:
//   ninja -C build bench_dispatch
//   build/bench/dispatch/bench_dispatch [--jobs 1000] [--routers 50] [--concurrency 8] [--rounds 5]
// The jobs run in rounds of jobs / rounds, each round once by xargs
// and once by a fresh dispatcher, the contenders taking turns at
// going first, so a change of the machine's load meets both alike; the
// figures add up the rounds.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/dispatch/DispatcherProcess.h"
#include "tests/e2e/SimRouter.h"
#include "tests/e2esupport/JobSetup.h"

namespace {

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// utime + stime of a living process, in seconds.
double cpuSeconds(pid_t pid) {
    std::string stat = testsupport::readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// VmHWM of a living process, in kB.
long peakKilobytes(pid_t pid) {
    std::istringstream status(testsupport::readFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return atol(line.c_str() + 6);
    return -1;
}

class Bench {
public:
    Bench(const testdb::ServerFacts& server, int jobs, int routers, int concurrency)
        : setup(server), jobs(jobs), concurrency(concurrency) {
        setup.addRouterType("NX-1", "NEXA");
        settings.connectTimeout = "10";
        for (int i = 0; i < routers; ++i) {
            devices.push_back(std::make_unique<SimRouter>("bench" + std::to_string(i)));
            if (!devices.back()->start("nexa")) {
                fprintf(stderr, "devsim: %s\n", devices.back()->sim.error().c_str());
                ok = false;
                return;
            }
            routerIds.push_back(setup.addRouter(devices.back()->row("NX-1", "Telnet")));
        }
        setup.writeSettingsText(dispatchtest::withDispatch(
            setup.settingsXml(settings),
            dispatchtest::dispatchElement(static_cast<unsigned>(concurrency), "5", setup.root.file("bench.prom"))));
    }

    // The same jobs again: ids 1 .. jobs, job i for router i % routers.
    void queueJobs() {
        setup.db.exec("DELETE FROM cordal_jobhistory; DELETE FROM cordal_jobs");
        std::string values;
        for (int i = 1; i <= jobs; ++i) {
            values += (values.empty() ? "" : ",") + std::string("(") + std::to_string(i) + "," +
                      std::to_string(routerIds[static_cast<size_t>(i) % routerIds.size()]) +
                      ",1700000000,1700000005,'Test','queued','R7.1',4711)";
        }
        setup.db.exec(
            "INSERT INTO cordal_jobs (id, routerid, jobtime, starttime, workmode, status, osrel, uid) VALUES " +
            values);
    }

    bool allSucceeded(const char* who) {
        long long good = setup.db.count("cordal_jobhistory", "status='success'");
        if (good == jobs) return true;
        fprintf(stderr, "%s: %lld of %d jobs succeeded\n", who, good, jobs);
        return false;
    }

    // The plain shell way: xargs -P keeps concurrency jobs running and
    // starts the next one as soon as one has ended. (A bash loop around
    // "wait -n" is the weaker baseline: on this machine it kept fewer jobs
    // running, 40 one-second sleeps 8 at a time taking 9.7 s against
    // xargs' 6.1 s.)
    double viaXargs() {
        queueJobs();
        char scale[64];
        snprintf(scale, sizeof scale, "--pause-scale=%g", setup.pauseScale);
        const std::string script = "seq 1 " + std::to_string(jobs) + " | xargs -P " + std::to_string(concurrency) +
                                   " -I ID \"$0\" \"$1\" \"$2\" -w -j ID >/dev/null 2>&1";
        const double start = now();
        testsupport::ProcessResult r = testsupport::runProcess(
            {"bash", "-c", script, testsupport::builtProgram("tests/tarvo-test-runner"), setup.root.path(), scale},
            3600);
        const double took = now() - start;
        if (r.exitCode != 0) fprintf(stderr, "xargs: exit %d %s\n", r.exitCode, r.err.c_str());
        return r.exitCode == 0 && allSucceeded("xargs") ? took : -1;
    }

    double dispatcher(double& cpu, long& peak) {
        queueJobs();
        dispatchtest::DispatcherProcess process(setup.root.path(), setup.pauseScale, "bench-dispatch");
        const double start = now();
        if (!process.start()) return -1;
        bool done = process.waitForOutput(" ended: ", 3600, jobs);
        const double took = now() - start;
        cpu = cpuSeconds(process.pid());
        peak = peakKilobytes(process.pid());
        process.signal(SIGTERM);
        int exit = process.wait(120);
        if (!done || exit != 0) {
            fprintf(stderr, "dispatcher: exit %d\n%s", exit, process.errors().c_str());
            return -1;
        }
        return allSucceeded("dispatcher") ? took : -1;
    }

    // One job on its own, for the job process's peak resident size.
    long jobPeakKilobytes() {
        queueJobs();
        char scale[64];
        snprintf(scale, sizeof scale, "--pause-scale=%g", setup.pauseScale);
        pid_t pid = fork();
        if (pid == 0) {
            const std::string runner = testsupport::builtProgram("tests/tarvo-test-runner");
            execl(runner.c_str(), runner.c_str(), setup.root.path().c_str(), scale, "-w", "-j", "1",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return -1;
        return usage.ru_maxrss;
    }

    e2e::JobSetup setup;
    e2e::JobSettings settings;
    std::vector<std::unique_ptr<SimRouter>> devices;
    std::vector<unsigned long> routerIds;
    int jobs, concurrency;
    bool ok = true;
};

}  // namespace

int main(int argc, char* argv[]) {
    int jobs = 1000, routers = 50, concurrency = 8, rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--jobs") == 0) jobs = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--routers") == 0) routers = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--concurrency") == 0) concurrency = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--rounds") == 0) rounds = atoi(argv[i + 1]);
    }
    if (jobs < 1 || routers < 1 || concurrency < 1 || rounds < 1 || jobs % rounds != 0) {
        fprintf(stderr, "usage: %s [--jobs N] [--routers N] [--concurrency N] [--rounds R, R divides N]\n", argv[0]);
        return 64;
    }
    testdb::PrivateServer server;
    Bench bench(server.facts(), jobs / rounds, routers, concurrency);
    if (!bench.ok) return 1;
    printf("%d Test jobs in %d rounds, %d simulated routers, %d at once\n", jobs, rounds, routers, concurrency);
    fflush(stdout);
    double loop = 0, dispatched = 0, cpu = 0;
    long peak = 0;
    for (int round = 0; round < rounds; ++round) {
        double l = 0, d = 0, c = 0;
        long p = 0;
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn + round) % 2 == 0)
                l = bench.viaXargs();
            else
                d = bench.dispatcher(c, p);
        }
        if (l <= 0 || d <= 0) return 1;
        printf("round %d: xargs -P %.1f s, dispatcher %.1f s\n", round + 1, l, d);
        fflush(stdout);
        loop += l;
        dispatched += d;
        cpu += c;
        peak = std::max(peak, p);
    }
    const long jobPeak = bench.jobPeakKilobytes();
    const double loopRate = jobs * 60.0 / loop, dispatchRate = jobs * 60.0 / dispatched;
    printf("xargs -P:     %.1f s, %.1f jobs per minute\n", loop, loopRate);
    printf("dispatcher:   %.1f s, %.1f jobs per minute\n", dispatched, dispatchRate);
    printf("ratio dispatcher / xargs -P: %.3f (goal >= 0.95)\n", dispatchRate / loopRate);
    printf("dispatcher CPU: %.2f s in all, %.2f ms per job; peak resident size %ld kB\n", cpu, cpu * 1000.0 / jobs,
           peak);
    printf("one job process: peak resident size %ld kB\n", jobPeak);
    return 0;
}
