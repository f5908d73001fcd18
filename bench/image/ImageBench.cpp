// bench_image: how fast the firmware image inspection reads a 256 MB single
// image, as a ratio to a plain loop that reads the same file in 1 MiB chunks
// and feeds zlib's crc32 (goal >= 0.8), and how much the resident memory of
// tarvo-image-info grows on that file over its start-up size (goal < 1 MB).
// The file is written into the build tree at start and removed at the end;
// both loops read it from the page cache.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "db/NexaImage.h"
#include "tests/image/ImageBuilder.h"
#include "util/logEngine.h"

namespace {

const uint64_t kDataBytes = 256ull << 20;
const std::string kBigImage = std::string(BENCH_SCRATCH_DIR) + "/bench-256MB.img";
const std::string kMissingImage = std::string(BENCH_SCRATCH_DIR) + "/bench-missing.img";

void removeScratch() {
    unlink(kBigImage.c_str());
}

void onSignal(int sig) {
    unlink(kBigImage.c_str());
    signal(sig, SIG_DFL);
    raise(sig);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A system image of pseudo-random data, streamed to disk: the checksum is
// computed on the way and the header written last.
bool writeImage(const std::string& path, uint64_t dataBytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string chunk(1 << 20, '\0');
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uLong crc = crc32(0L, Z_NULL, 0);
    bool ok = lseek(fd, imagebuilder::headerBytes(imagebuilder::Part()).size(), SEEK_SET) >= 0;
    for (uint64_t done = 0; ok && done < dataBytes; done += chunk.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), dataBytes - done));
        for (size_t i = 0; i + 8 <= n; i += 8) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            std::copy_n(reinterpret_cast<const char*>(&state), 8, &chunk[i]);
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(n));
        ok = writeAll(fd, chunk.data(), n);
    }
    imagebuilder::Part part;
    part.header.len = static_cast<uint32_t>(dataBytes);
    part.header.crc = static_cast<uint32_t>(crc);
    std::string header = imagebuilder::headerBytes(part);
    ok = ok && lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, header.data(), header.size());
    return close(fd) == 0 && ok;
}

void PlainReadCrc32(benchmark::State& state) {
    std::vector<unsigned char> buffer(1 << 20);
    for (auto _ : state) {
        int fd = open(kBigImage.c_str(), O_RDONLY | O_CLOEXEC);
        uLong crc = crc32(0L, Z_NULL, 0);
        ssize_t n;
        while ((n = read(fd, buffer.data(), buffer.size())) != 0) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            crc = crc32(crc, buffer.data(), static_cast<uInt>(n));
        }
        close(fd);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataBytes));
}

void Inspection(benchmark::State& state) {
    for (auto _ : state) {
        logEngine log;
        NexaImage image(&log);
        std::string version;
        bool multiPart = false;
        if (!image.readVersion(kBigImage, version, multiPart)) {
            state.SkipWithError("the inspection found no version");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kDataBytes));
}

// Remembers the best real time of every benchmark besides printing it.
class BestTimeReporter : public benchmark::ConsoleReporter {
public:
    BestTimeReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
    std::map<std::string, double> best;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            auto it = best.find(run.run_name.function_name);
            double t = run.GetAdjustedRealTime();
            if (it == best.end() || t < it->second) best[run.run_name.function_name] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Peak resident set (KiB) of one run of tarvo-image-info on a file; -1 when
// it does not end with the exit code expected.
long peakResidentKiB(const std::string& file, int expectedExit) {
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        execl(IMAGE_INFO_PROGRAM, IMAGE_INFO_PROGRAM, file.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedExit) return -1;
    return usage.ru_maxrss;
}

void reportMemory() {
    long small = -1, big = -1;
    for (int i = 0; i < 3; ++i) {
        // Start-up size: a run that stops before the first read.
        long s = peakResidentKiB(kMissingImage, 1), b = peakResidentKiB(kBigImage, 0);
        if (s < 0 || b < 0) {
            printf("tarvo-image-info failed on the benchmark images\n");
            return;
        }
        small = small < 0 ? s : std::min(small, s);
        big = std::max(big, b);
    }
    printf("tarvo-image-info peak resident memory: %ld KiB at start-up (missing file), %ld KiB on the 256 MB image\n",
           small, big);
    printf("resident memory growth: %ld KiB (goal < 1024 KiB)\n", big - small);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    signal(SIGINT, onSignal);
    signal(SIGTERM, onSignal);
    if (!writeImage(kBigImage, kDataBytes)) {
        fprintf(stderr, "cannot write the benchmark images in %s\n", BENCH_SCRATCH_DIR);
        removeScratch();
        return 1;
    }
    benchmark::RegisterBenchmark("PlainReadCrc32", PlainReadCrc32)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("Inspection", Inspection)->Unit(benchmark::kMillisecond)->UseRealTime();
    BestTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto plain = reporter.best.find("PlainReadCrc32"), inspection = reporter.best.find("Inspection");
    if (plain != reporter.best.end() && inspection != reporter.best.end())
        printf("inspection throughput / plain 1 MiB read + crc32: %.2f (goal >= 0.80; best times %.1f ms / %.1f ms)\n",
               plain->second / inspection->second, inspection->second, plain->second);
    reportMemory();
    removeScratch();
    benchmark::Shutdown();
    return 0;
}
