// bench_diff: the time and peak memory of UniDiff::comparefiles against
// GNU "diff -u" on the same pair of generated configurations: 20,000 and
// 200,000 lines with about 1 % of the lines changed, 200,000 lines with one
// changed line (the common drift) and 200,000 lines with about 10 %
// changed. Every run is a child process of its own, so its peak resident
// size is its own; the best of --repeat runs counts. Prints one line per
// pair with both times, the time ratio (UniDiff / diff) and both peak
// sizes. With --check it also says whether the hunks are byte for byte the
// ones dtl prints when it is run on all lines of both files (slow).
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

#include <dtl/dtl.hpp>

#include <sstream>
#include <vector>

#include "config/UniDiff.h"
#include "db/Cordal_router.h"
#include "util/logEngine.h"

namespace {

const std::string kScratch = BENCH_SCRATCH_DIR;

// A configuration of tables with rows in braces, as devices export them.
// Every changeOneIn-th row (at random) of the second file is changed, or
// with changeOneIn 0 only the row in the middle.
void writePair(int lineCount, int changeOneIn, const std::string& a, const std::string& b) {
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
        const bool change = changeOneIn ? random() % changeOneIn == 0 : i == lineCount / 2;
        if (change)
            outB << line << " changed\n";
        else
            outB << line << '\n';
    }
}

struct Run {
    double seconds;
    long peakKb;
    int status;
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
    return {took, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

Run best(int repeat, const std::function<int()>& work) {
    Run result{1e30, 0, 0};
    for (int i = 0; i < repeat; ++i) {
        Run r = inChild(work);
        if (r.seconds < result.seconds) result.seconds = r.seconds;
        if (r.peakKb > result.peakKb) result.peakKb = r.peakKb;
    }
    return result;
}

// The hunks of dtl run on all lines of both files.
std::string plainDtl(const std::string& a, const std::string& b) {
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (UniDiff::safeGetline(in, line)) lines.push_back(line);
        return lines;
    };
    dtl::Diff<std::string, std::vector<std::string>> diff(read(a), read(b));
    diff.onHuge();
    diff.compose();
    diff.composeUnifiedHunks();
    std::ostringstream out;
    diff.printUnifiedFormat(out);
    return out.str();
}

// The hunks with the numbers of their headers left out.
std::string withoutLineNumbers(const std::string& hunks) {
    std::istringstream in(hunks);
    std::string out, line;
    while (std::getline(in, line)) out += line.compare(0, 2, "@@") == 0 ? "@@\n" : line + "\n";
    return out;
}

}  // namespace

int main(int argc, char* argv[]) {
    int repeat = 3;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) repeat = atoi(argv[++i]);
        if (strcmp(argv[i], "--check") == 0) check = true;
    }
    const struct {
        const char* name;
        int lines;
        int changeOneIn;
    } pairs[] = {{"20000 1%", 20000, 100}, {"200000 1%", 200000, 100}, {"200000 1 line", 200000, 0}, {"200000 10%", 200000, 10}};
    printf("%-14s %10s %10s %7s %14s %14s%s\n", "pair", "UniDiff s", "diff -u s", "ratio", "UniDiff peak", "diff peak",
           check ? "  hunks" : "");
    for (const auto& pair : pairs) {
        const std::string a = kScratch + "/bench-a-" + std::to_string(pair.lines);
        const std::string b = kScratch + "/bench-b-" + std::to_string(pair.lines);
        writePair(pair.lines, pair.changeOneIn, a, b);
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
        std::string same;
        if (check) {
            // In a child too, so that no later run inherits its memory.
            Run checked = inChild([&] {
                logEngine log(false);
                Cordal_router router(static_cast<Database*>(nullptr));
                UniDiff diff(&log, &router, "qx.CLI", a, b);
                diff.comparefiles();
                const std::string plain = plainDtl(a, b);
                if (diff.diffText == plain) return 0;
                const std::string kept = kScratch + "/hunks-" + std::to_string(pair.changeOneIn);
                std::ofstream(kept + "-fast") << "--- a\n+++ b\n" << diff.diffText;
                std::ofstream(kept + "-dtl") << "--- a\n+++ b\n" << plain;
                // dtl numbers the lines wrongly after it restarted its search
                // twice; then only the headers differ, and ours still patch.
                const bool onlyHeaders = withoutLineNumbers(diff.diffText) == withoutLineNumbers(plain);
                const std::string patched = kept + "-patched";
                const bool patches = system(("patch -s -o '" + patched + "' '" + a + "' < '" + kept +
                                             "-fast' && cmp -s '" + patched + "' '" + b + "'")
                                                .c_str()) == 0;
                return onlyHeaders && patches ? 1 : 2;
            });
            same = checked.status == 0   ? "  same as dtl"
                   : checked.status == 1 ? "  same as dtl but its line numbers (ours patch)"
                                         : "  DIFFER from dtl (kept in " + kScratch + ")";
        }
        printf("%-14s %10.3f %10.3f %7.2f %11ld KB %11ld KB%s\n", pair.name, ours.seconds, gnu.seconds,
               ours.seconds / gnu.seconds, ours.peakKb, gnu.peakKb, same.c_str());
        unlink(a.c_str());
        unlink(b.c_str());
    }
    return 0;
}
