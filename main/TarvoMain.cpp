#include "main/TarvoMain.h"

#include <unistd.h>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "main/Tarvo.h"

namespace {

// Job ids are 32-bit. strtoul would wrap a negative number and, on a 64-bit
// system, silently truncate nothing but accept 4294967338 as a value the
// database would never hold; both would run the wrong job. Trailing text is
// ignored ("12abc" is job 12); 0 means "not a job number".
unsigned long parseJobId(const char* text) {
    const char* p = text;
    while (isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '-') return 0;
    errno = 0;
    unsigned long long value = strtoull(p, nullptr, 10);
    if (errno == ERANGE || value >= 4294967295ULL) return 0;
    return static_cast<unsigned long>(value);
}

void printUsage(const Paths& paths) {
    std::string text = tarvoUsage(paths);
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

}  // namespace

std::string tarvoUsage(const Paths& paths) {
    std::string transfer = paths.transferDir();
    if (transfer.size() > 1 && transfer.back() == '/') transfer.pop_back();
    return "\n"
           "Usage:         Tarvo [-hvlwd] -j <jobid>\n"
           "\n"
           "       -h, -v          Print usage information. (This text.)\n"
           "       -l              Dump log from job to stderr.\n"
           "       -w              Write logfile to " +
           transfer +
           ".\n"
           "       -d              Turn on debugging output.\n"
           "       <jobid>         Database job ID.\n"
           "\n"
           "Tarvo Version 4.1.1\n"
           "\n";
}

int tarvoMain(int argc, char* argv[], const Paths& paths) {
    // A write to a peer that has gone must be a failed write, never the end
    // of the process.
    signal(SIGPIPE, SIG_IGN);

    bool debug = false, dumpLog = false, writeLogfile = false, directPrint = false;
    unsigned long jobId = 0;
    int jobIdCount = 0;

    opterr = 0;
    optind = 1;
    int c;
    while ((c = getopt(argc, argv, "lwhvdj:p")) != -1) {
        switch (c) {
            case 'l':
                dumpLog = true;
                break;
            case 'w':
                writeLogfile = true;
                break;
            case 'd':
                debug = true;
                break;
            case 'p':
                directPrint = true;
                break;
            case 'h':
            case 'v':
                printUsage(paths);
                return 0;
            case 'j':
                jobId = parseJobId(optarg);
                if (jobId == 0) {
                    fprintf(stderr, "Tarvo: ERROR: <%s> is not a jobnumber.\n", optarg);
                    return 1;
                }
                ++jobIdCount;
                break;
            default:
                if (isprint(optopt))
                    fprintf(stderr, "Tarvo: ERROR: Unknown option `-%c'.\n", optopt);
                else
                    fprintf(stderr, "Tarvo: ERROR: Unknown option character `\\x%x'.\n", optopt);
                printUsage(paths);
                return 1;
        }
    }
    if (jobIdCount != 1) {
        printUsage(paths);
        return 1;
    }

    Tarvo::installSignalHandlers();
    int status;
    {
        Tarvo job(jobId, debug, dumpLog, writeLogfile, directPrint, paths);
        job.Init();
        job.Run();
        job.testPing();
        bool ok = job.Finish();
        status = job.claimLost() ? Tarvo::kExitClaimedByAnother : ok ? 0 : 2;
    }
    return status;
}
