// Expect engine benchmark: the engine against Tcl expect and against a bare
// pseudo-terminal loop with no engine at all (the floor).
//
// How to run:
//   ninja -C build bench_expect
//   build/bench/expect/bench_expect [--exchanges 1000] [--sizes 10,50] [--repeat 7] [--tcl-limit 60]
// Needs the Tcl `expect` program (Debian package expect, in scripts/setup.sh).
// Run it on a quiet machine and read the ratios of one run: every figure is
// the best of --repeat rounds taken in that run, the contenders interleaved
// within each round (a measurement that takes longer than 5 s is not
// repeated). A Tcl expect run that takes longer
// than --tcl-limit seconds is cut off and shown as "> limit"; --tcl-limit 0
// leaves Tcl out. Scratch files go to $TMPDIR (default /tmp) and are removed
// at the end.
//
// What is measured:
//   dialogue  N exchanges with an interactive /bin/sh: send "echo <i>",
//             await the prompt (as a plain text and as a pattern).
//   reply     `cat` of a generated file of S MB ending in a marker, from the
//             start of the child until the marker is found (plain text and
//             pattern); Tcl expect runs with match_max -d 60000000.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "util/Expect.h"
#include "util/ExpectException.h"

namespace {

const char kPrompt[] = "tarvo-bench> ";
const char kMarker[] = "END-OF-REPLY";

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Runs every contender once per round, interleaved, so that a change in the
// machine's load falls on all of them alike, and keeps each one's shortest
// run. A run that was cut off (negative) or took longer than 5 s is not
// repeated.
std::vector<double> bestOf(int rounds, const std::vector<std::function<double()>>& contenders) {
    std::vector<double> best(contenders.size(), 1e300);
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            if (round > 0 && (best[i] < 0 || best[i] > 5.0)) continue;
            double t = contenders[i]();
            best[i] = t < 0 ? t : std::min(best[i], t);
        }
    }
    return best;
}

int tclLimit = 60;  // seconds; 0: Tcl expect is not run

// A figure, or "> limit" for a Tcl run that was cut off (negative value).
std::string figure(double seconds, int precision) {
    char text[32];
    if (seconds < 0)
        snprintf(text, sizeof text, "> %d", tclLimit);
    else
        snprintf(text, sizeof text, "%.*f", precision, seconds);
    return text;
}

// engine / other, or "< x" when the other run was cut off.
std::string ratio(double engine, double other) {
    char text[32];
    if (other < 0)
        snprintf(text, sizeof text, "< %.2f", engine / tclLimit);
    else
        snprintf(text, sizeof text, "%.2f", engine / other);
    return text;
}

[[noreturn]] void fail(const std::string& what) {
    fprintf(stderr, "bench_expect: %s\n", what.c_str());
    exit(1);
}

std::string scratchDir() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_expect.XXXXXX";
    if (!mkdtemp(&pattern[0])) fail("cannot create a scratch folder");
    return pattern;
}

// A reply of about megabytes MB: numbered text lines, then the marker.
std::string writeReply(const std::string& dir, int megabytes) {
    std::string path = dir + "/reply" + std::to_string(megabytes);
    std::ofstream out(path, std::ios::binary);
    char line[128];
    size_t size = 0, target = static_cast<size_t>(megabytes) * 1000 * 1000;
    for (long n = 0; size < target; ++n) {
        int length = snprintf(line, sizeof line, "line %08ld: the quick brown fox jumps over the lazy dog\n", n);
        out.write(line, length);
        size += static_cast<size_t>(length);
    }
    out << kMarker << " 4711\n";
    if (!out) fail("cannot write " + path);
    return path;
}

// ---- the engine --------------------------------------------------------------

double engineDialogue(int exchanges, bool pattern) {
    Expect engine(nullptr);
    engine.setTimeout(10000);
    if (!engine.spawn("PS1='%s' exec /bin/sh", kPrompt)) fail("engine: spawn failed");
    ExpectRegex promptPattern(std::string("/") + kPrompt + "$/");
    auto awaitPrompt = [&] {
        int hit = pattern ? engine.expect(std::vector<ExpectRegex>{promptPattern}) : engine.expect_noreg(kPrompt, "");
        if (hit != 1) fail("engine: no prompt");
        engine.clearAccum();
    };
    awaitPrompt();
    double start = now();
    for (int i = 0; i < exchanges; ++i) {
        engine.send("echo %d\n", i);
        awaitPrompt();
    }
    double elapsed = now() - start;
    engine.stop();
    return elapsed;
}

double engineReply(const std::string& file, bool pattern) {
    Expect engine(nullptr);
    engine.setTimeout(30000);
    double start = now();
    if (!engine.spawn("exec cat '%s'", file.c_str())) fail("engine: spawn failed");
    int hit = pattern ? engine.expect(std::vector<ExpectRegex>{ExpectRegex("/END-OF-REPLY \\d+/")})
                      : engine.expect_noreg(kMarker, "");
    double elapsed = now() - start;
    if (hit != 1) fail("engine: marker not found");
    if (engine.getBefore().size() < 1000000) fail("engine: reply incomplete");
    engine.stop();
    return elapsed;
}

// ---- Tcl expect ---------------------------------------------------------------

// Runs a Tcl expect script that prints the microseconds it measured, or
// "timeout"; -1 stands for a run cut off at tclLimit.
double tclRun(const std::string& dir, const std::string& script) {
    if (tclLimit <= 0) return -1;
    std::string path = dir + "/bench.exp";
    std::ofstream(path) << script;
    std::string command = "expect -f '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) fail("cannot run Tcl expect");
    char line[256] = "";
    std::string output;
    while (fgets(line, sizeof line, pipe)) output += line;
    if (pclose(pipe) != 0) fail("Tcl expect failed: " + output);
    if (output.rfind("timeout", 0) == 0) return -1;
    return std::atof(output.c_str()) / 1e6;
}

double tclDialogue(const std::string& dir, int exchanges, bool pattern) {
    std::string await =
        pattern ? std::string("expect -re {") + kPrompt + "$}" : std::string("expect -ex {") + kPrompt + "}";
    std::ostringstream s;
    s << "log_user 0\nset timeout " << tclLimit << "\nset env(PS1) {" << kPrompt << "}\nspawn /bin/sh\n"
      << await << "\nset t [clock microseconds]\n"
      << "for {set i 0} {$i < " << exchanges << "} {incr i} {\n"
      << "  send \"echo $i\\n\"\n"
      << "  " << await << " { } timeout { puts timeout; exit 0 }\n}\n"
      << "puts [expr {[clock microseconds] - $t}]\n";
    return tclRun(dir, s.str());
}

double tclReply(const std::string& dir, const std::string& file, bool pattern) {
    std::ostringstream s;
    s << "log_user 0\nset timeout " << tclLimit << "\nmatch_max -d 60000000\nset t [clock microseconds]\n"
      << "spawn cat {" << file << "}\n"
      << (pattern ? "expect -re {END-OF-REPLY \\d+}" : "expect -ex {END-OF-REPLY}")
      << " { } timeout { puts timeout; exit 0 }\n"
      << "puts [expr {[clock microseconds] - $t}]\n";
    return tclRun(dir, s.str());
}

// ---- bare pseudo-terminal ------------------------------------------------------

// The floor: forkpty, write, read into a growing buffer, look for the text
// in the new bytes; no engine.
class BarePty {
public:
    explicit BarePty(const char* command) {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ < 0) fail("forkpty failed");
        if (pid_ == 0) {
            execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~BarePty() {
        kill(pid_, SIGKILL);
        close(master_);
        int status;
        waitpid(pid_, &status, 0);
    }
    void write(const std::string& text) {
        if (::write(master_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) fail("bare: write");
    }
    // Reads until text appears in what was read since the last call.
    void readUntil(const char* text, size_t readSize) {
        size_t length = strlen(text);
        buffer_.clear();
        size_t searched = 0;
        char chunk[65536];
        for (;;) {
            ssize_t n = read(master_, chunk, std::min(readSize, sizeof chunk));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fail("bare: end of output before the text");
            buffer_.append(chunk, static_cast<size_t>(n));
            size_t from = searched >= length ? searched - length + 1 : 0;
            if (memmem(buffer_.data() + from, buffer_.size() - from, text, length)) return;
            searched = buffer_.size();
        }
    }
    size_t size() const { return buffer_.size(); }

private:
    int master_ = -1;
    pid_t pid_ = -1;
    std::string buffer_;
};

double bareDialogue(int exchanges) {
    std::string command = std::string("PS1='") + kPrompt + "' exec /bin/sh";
    BarePty pty(command.c_str());
    pty.readUntil(kPrompt, 512);
    double start = now();
    for (int i = 0; i < exchanges; ++i) {
        pty.write("echo " + std::to_string(i) + "\n");
        pty.readUntil(kPrompt, 512);
    }
    return now() - start;
}

double bareReply(const std::string& file) {
    double start = now();
    std::string command = "exec cat '" + file + "'";
    BarePty pty(command.c_str());
    pty.readUntil(kMarker, 65536);
    double elapsed = now() - start;
    if (pty.size() < 1000000) fail("bare: reply incomplete");
    return elapsed;
}

// ---- report --------------------------------------------------------------------

struct Options {
    int exchanges = 1000;
    std::vector<int> sizes = {10, 50};
    int repeat = 7;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i], value = argv[i + 1];
        if (name == "--exchanges") {
            options.exchanges = std::atoi(value.c_str());
        } else if (name == "--tcl-limit") {
            tclLimit = std::atoi(value.c_str());
        } else if (name == "--repeat") {
            options.repeat = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--sizes") {
            options.sizes.clear();
            std::istringstream list(value);
            for (std::string item; std::getline(list, item, ',');) options.sizes.push_back(std::atoi(item.c_str()));
        } else {
            fail("unknown option " + name);
        }
    }
    if (argc % 2 == 0) fail("usage: bench_expect [--exchanges N] [--sizes 10,50] [--repeat 7] [--tcl-limit 60]");
    return options;
}

void dialogue(const Options& o, const std::string& dir) {
    int n = o.exchanges;
    double perThousand = 1000.0 / n;
    std::vector<double> t =
        bestOf(o.repeat, {[&] { return engineDialogue(n, false); }, [&] { return engineDialogue(n, true); },
                          [&] { return tclDialogue(dir, n, false); }, [&] { return tclDialogue(dir, n, true); },
                          [&] { return bareDialogue(n); }});
    for (double& seconds : t)
        if (seconds > 0) seconds *= perThousand;
    double enginePlain = t[0], enginePattern = t[1], tclPlain = t[2], tclPattern = t[3], bare = t[4];
    printf("Dialogue: %d exchanges with /bin/sh, seconds per 1000 exchanges (best of %d)\n", n, o.repeat);
    printf("  engine, plain text (expect_noreg)   %8.4f\n", enginePlain);
    printf("  engine, pattern (expect)            %8.4f\n", enginePattern);
    printf("  Tcl expect -ex                      %8s\n", figure(tclPlain, 4).c_str());
    printf("  Tcl expect -re                      %8s\n", figure(tclPattern, 4).c_str());
    printf("  bare pty loop                       %8.4f\n", bare);
    printf("  ratio engine / Tcl expect           plain %s   pattern %s   (goal <= 0.9)\n",
           ratio(enginePlain, tclPlain).c_str(), ratio(enginePattern, tclPattern).c_str());
    printf("  ratio engine / bare loop            plain %.2f   pattern %.2f   (goal <= 1.3)\n\n", enginePlain / bare,
           enginePattern / bare);
}

void replies(const Options& o, const std::string& dir) {
    struct Row {
        int megabytes;
        double plain, pattern, tclPlain, tclPattern, bare;
    };
    std::vector<Row> rows;
    for (int mb : o.sizes) {
        std::string file = writeReply(dir, mb);
        Row r{mb, 0, 0, 0, 0, 0};
        std::vector<double> t =
            bestOf(o.repeat, {[&] { return engineReply(file, false); }, [&] { return engineReply(file, true); },
                              [&] { return tclReply(dir, file, false); }, [&] { return tclReply(dir, file, true); },
                              [&] { return bareReply(file); }});
        r.plain = t[0];
        r.pattern = t[1];
        r.tclPlain = t[2];
        r.tclPattern = t[3];
        r.bare = t[4];
        remove(file.c_str());
        rows.push_back(r);
    }
    printf("Large reply: cat of a file through the pty until its end marker, seconds (best of %d)\n", o.repeat);
    printf("  %4s %8s %8s %8s %8s %8s   %-20s %-20s\n", "MB", "plain", "pattern", "Tcl -ex", "Tcl -re", "bare",
           "engine/Tcl plain pat", "engine/bare plain pat");
    for (const Row& r : rows)
        printf("  %4d %8.3f %8.3f %8s %8s %8.3f   %8s %8s     %8.2f %8.2f\n", r.megabytes, r.plain, r.pattern,
               figure(r.tclPlain, 3).c_str(), figure(r.tclPattern, 3).c_str(), r.bare,
               ratio(r.plain, r.tclPlain).c_str(), ratio(r.pattern, r.tclPattern).c_str(), r.plain / r.bare,
               r.pattern / r.bare);
    printf("  goals: engine/Tcl <= 1.0, engine/bare <= 1.5\n");
    if (rows.size() >= 2) {
        const Row &small = rows.front(), &large = rows.back();
        printf("  time ratio %d MB / %d MB: engine plain %.2f, pattern %.2f; bare %.2f (goal <= 6)\n", large.megabytes,
               small.megabytes, large.plain / small.plain, large.pattern / small.pattern, large.bare / small.bare);
    }
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);  // figures appear as they are measured
    Options options = parse(argc, argv);
    std::string dir = scratchDir();
    try {
        dialogue(options, dir);
        replies(options, dir);
    } catch (const ExpectException& e) {
        fail(std::string("engine raised: ") + e.what());
    }
    remove((dir + "/bench.exp").c_str());
    rmdir(dir.c_str());
    return 0;
}
