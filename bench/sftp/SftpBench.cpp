// bench_sftp: a 64 MB firmware image uploaded to a simulated qx.CLI device
// over SFTP through the job's own connection (the sftp client driven on a
// pseudo-terminal by the expect engine, awaiting "100%" and the prompt)
// against plain `sftp -b` with the same put, same file, same device. Both
// contenders include starting the client, the login, the transfer and the
// client's end; the job's deliberate pause after a disconnect is scaled to
// nothing. Prints the
// times and the ratio job / plain (goal <= 1.2).
//
// How to run:
//   ninja -C build bench_sftp
//   build/bench/sftp/bench_sftp [--repeat 5] [--megabytes 64]
// Every figure is the best of --repeat rounds, the contenders interleaved
// within each round. Scratch files go to the build tree and are removed.
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "main/Tarvo.h"
#include "tests/simsupport/DevSim.h"
#include "util/Pause.h"
#include "util/logEngine.h"

namespace {

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

bool writeImage(const std::string& path, size_t megabytes) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(42);
    std::string block(1 << 20, '\0');
    for (size_t i = 0; i < megabytes && out; ++i) {
        for (size_t at = 0; at + 8 <= block.size(); at += 8) {
            uint64_t value = random();
            memcpy(&block[at], &value, 8);
        }
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return static_cast<bool>(out);
}

class Bench {
public:
    Bench(const std::string& scratch, testsim::DevSim& device) : scratch(scratch), device(device) {}

    // The job's connection: connect, put, judged as the update judges it.
    double viaJob() {
        Tarvo job(1, false, false, false, false, Paths(scratch));
        job.log.reset(new logEngine(false));
        job.routerOs = "qx.CLI";
        job.family = DeviceFamily(job.routerOs);
        job.connectSettings.reset(new ConnectSettings());
        job.connectSettings->address = "127.0.0.1";
        job.connectSettings->sshPort = device.sshPort();
        job.connectSettings->connectTimeout = 10;
        job.connectSettings->commandTimeout = 10;
        job.loginSettings.reset(new LoginSettings{{"bench", "", "(bench)"}});
        std::unique_ptr<ConnectionHandler> sftp(job.createConnectionHandler(SFTP));
        const double start = now();
        if (!sftp->connect(*job.connectSettings, *job.loginSettings)) return fail("job: login failed", job);
        commandResult reply;
        {
            ScopedTimeout slow(*sftp, 600);
            reply = sftp->sendCmd("put " + imagePath() + " /MEM/SYS.IMG", job.family.promptSftp);
        }
        sftp->disconnect();
        const double took = now() - start;
        if (!reply.foundFirst || !reply.contains("100%") || Tarvo::sftpReplyFailed(reply))
            return fail("job: put failed", job);
        return took;
    }

    // Plain sftp in batch mode.
    double viaSftpBatch() {
        const std::string batch = scratch + "/batch";
        std::ofstream(batch) << "put " << imagePath() << " /MEM/SYS.IMG\n";
        const std::string command = "sftp -b " + batch + " -P" + std::to_string(device.sshPort()) +
                                    " -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null"
                                    " -o LogLevel=ERROR bench@127.0.0.1 >/dev/null";
        const double start = now();
        const int status = system(command.c_str());
        const double took = now() - start;
        if (status != 0) {
            fprintf(stderr, "sftp -b failed (%d)\n", status);
            return -1;
        }
        return took;
    }

    std::string imagePath() const { return scratch + "/tftpboot/images/M1/big.img"; }
    bool uploaded(size_t megabytes) const {
        std::ifstream in(device.statePath("fs/MEM/SYS.IMG"), std::ios::binary | std::ios::ate);
        bool complete = in && static_cast<size_t>(in.tellg()) == (megabytes << 20);
        unlink(device.statePath("fs/MEM/SYS.IMG").c_str());
        return complete;
    }

private:
    double fail(const char* what, Tarvo& job) {
        fprintf(stderr, "%s\n%s\n", what, job.log->dumpAsString().c_str());
        return -1;
    }

    std::string scratch;
    testsim::DevSim& device;
};

}  // namespace

int main(int argc, char* argv[]) {
    int repeat = 5;
    size_t megabytes = 64;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--repeat") == 0) repeat = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--megabytes") == 0) megabytes = static_cast<size_t>(atoi(argv[i + 1]));
    }
    Pause::setScale(0);  // the disconnect pause is not measured
    std::string scratch = std::string(BENCH_SCRATCH_DIR) + "/sftp-XXXXXX";
    if (!mkdtemp(&scratch[0])) {
        perror("mkdtemp");
        return 1;
    }
    if (system(("mkdir -p " + scratch + "/tftpboot/images/M1").c_str()) != 0) return 1;
    int status = 0;
    {
        testsim::DevSim device(scratch + "/device");
        Bench bench(scratch, device);
        if (!writeImage(bench.imagePath(), megabytes) ||
            !device.start({"--family", "qxcli", "--listen", "127.0.0.1", "--user", "bench", "--password", ""})) {
            fprintf(stderr, "set-up failed: %s\n", device.error().c_str());
            status = 1;
        } else {
            double bestJob = 1e300, bestPlain = 1e300;
            for (int round = 0; round < repeat && status == 0; ++round) {
                double job = bench.viaJob();
                bool jobOk = job > 0 && bench.uploaded(megabytes);
                double plain = bench.viaSftpBatch();
                bool plainOk = plain > 0 && bench.uploaded(megabytes);
                if (!jobOk || !plainOk) {
                    status = 1;
                    break;
                }
                printf("round %d: job %.3f s, sftp -b %.3f s\n", round + 1, job, plain);
                bestJob = std::min(bestJob, job);
                bestPlain = std::min(bestPlain, plain);
            }
            if (status == 0) {
                printf("%zu MB over SFTP, best of %d: job connection %.3f s, plain sftp -b %.3f s\n", megabytes, repeat,
                       bestJob, bestPlain);
                printf("ratio job / plain: %.2f (goal <= 1.2)\n", bestJob / bestPlain);
            }
        }
    }
    if (system(("rm -rf " + scratch).c_str()) != 0) status = 1;
    return status;
}
