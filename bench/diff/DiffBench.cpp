// bench_diff: the time and peak memory of UniDiff::comparefiles against
// GNU "diff -u" on the same pair of generated configurations, 20,000 and
// 200,000 lines with about 1 % of the lines changed. Every run is a child
// process of its own, so its peak resident size is its own; the best of
// --repeat runs counts. Prints one line per size with both times, the time
// ratio (UniDiff / diff) and both peak sizes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "config/UniDiff.h"
#include "db/Cordal_router.h"
#include "util/logEngine.h"

namespace {

const std::string kScratch = BENCH_SCRATCH_DIR;

// A configuration of tables with rows in braces, as devices export them.
void writePair(int lineCount, const std::string& a, const std::string& b) {
    std::mt19937 random(static_cast<unsigned>(lineCount));
    std::ofstream outA(a), outB(b);
    for (int i = 0; i < lineCount; ++i) {
        std::string line;
        if (i % 50 == 0)
            line = "table tbl" + std::to_string(i / 50);
        else if (i % 50 == 1)
            line = "{";
        else if (i % 50 == 49)
            line = "}";
        else
            line = "  row" + std::to_string(i) + " ifindex " + std::to_string(random() % 100000) + " addr 10." +
                   std::to_string(i % 256) + ".0.1";
        outA << line << '\n';
        if (random() % 100 == 0)
            outB << line << " changed\n";
        else
            outB << line << '\n';
    }
}

struct Run {
    double seconds;
    long peakKb;
};

template <typename Work>
Run inChild(Work work) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) _exit(work());
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
    }
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return {took, usage.ru_maxrss};
}

Run best(int repeat, const std::function<int()>& work) {
    Run result{1e30, 0};
    for (int i = 0; i < repeat; ++i) {
        Run r = inChild(work);
        if (r.seconds < result.seconds) result.seconds = r.seconds;
        if (r.peakKb > result.peakKb) result.peakKb = r.peakKb;
    }
    return result;
}

}  // namespace

int main(int argc, char* argv[]) {
    int repeat = 3;
    for (int i = 1; i + 1 < argc; ++i)
        if (strcmp(argv[i], "--repeat") == 0) repeat = atoi(argv[i + 1]);
    printf("%-8s %12s %12s %8s %14s %14s\n", "lines", "UniDiff s", "diff -u s", "ratio", "UniDiff peak", "diff peak");
    for (int lineCount : {20000, 200000}) {
        const std::string a = kScratch + "/bench-a-" + std::to_string(lineCount);
        const std::string b = kScratch + "/bench-b-" + std::to_string(lineCount);
        writePair(lineCount, a, b);
        Run ours = best(repeat, [&] {
            logEngine log(false);
            Cordal_router router(static_cast<Database*>(nullptr));
            UniDiff diff(&log, &router, "qx.CLI", a, b);
            return diff.comparefiles() ? 0 : 1;
        });
        Run gnu = best(repeat, [&] {
            execlp("sh", "sh", "-c", ("exec diff -u '" + a + "' '" + b + "' > /dev/null").c_str(), (char*)nullptr);
            return 127;
        });
        printf("%-8d %12.3f %12.3f %8.2f %11ld KB %11ld KB\n", lineCount, ours.seconds, gnu.seconds,
               ours.seconds / gnu.seconds, ours.peakKb, gnu.peakKb);
        unlink(a.c_str());
        unlink(b.c_str());
    }
    return 0;
}
