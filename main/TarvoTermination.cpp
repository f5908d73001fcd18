// Termination requests and the job's last word: SIGTERM, SIGINT and SIGHUP
// only raise a flag, the current wait ends, and the job ends through Finish
// with the reason "Terminated"; the job deadline's SIGALRM does the same
// with the reason "Deadline exceeded"; a job that ends failed without a stored
// history row says so on standard error and keeps its log on disk.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

#include "main/Tarvo.h"
#include "util/Pause.h"
#include "util/logEngine.h"

namespace {
volatile sig_atomic_t gTerminationSignal = 0;
unsigned gDeadlineSeconds = 0;  // the armed job deadline, for the message

void onTerminationSignal(int signal) {
    if (gTerminationSignal == 0) gTerminationSignal = signal;
}

bool terminationRequested() {
    return gTerminationSignal != 0;
}

const char* signalName(int signal) {
    switch (signal) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        case SIGALRM:
            return "SIGALRM";
        default:
            return "unknown signal";
    }
}
}  // namespace

void Tarvo::installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking wait returns with EINTR and looks at the flag.
    action.sa_flags = 0;
    // SIGALRM is the job deadline (armDeadline).
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGALRM}) sigaction(signal, &action, nullptr);
    Pause::setInterruptCheck(terminationRequested);
}

int Tarvo::terminationSignal() {
    return gTerminationSignal;
}

void Tarvo::armDeadline(unsigned seconds) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double elapsed = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 - startedAt;
    gDeadlineSeconds = seconds;
    if (elapsed >= seconds) {
        alarm(0);
        onTerminationSignal(SIGALRM);  // already past it
        return;
    }
    // Rounded up: the job never ends before its deadline.
    const double left = seconds - elapsed;
    alarm(static_cast<unsigned>(left) + (left > static_cast<unsigned>(left) ? 1 : 0));
}

void Tarvo::cancelDeadline() {
    alarm(0);
}

bool Tarvo::noteTermination() {
    const int signal = terminationSignal();
    if (signal == 0) return false;
    if (terminationNoted) return true;
    terminationNoted = true;
    if (signal == SIGALRM) {
        reason = "Deadline exceeded";
        errorMessage = "Job deadline of " + std::to_string(gDeadlineSeconds) +
                       " seconds exceeded; no further command is sent to the device.";
    } else {
        reason = "Terminated";
        errorMessage =
            std::string("Terminated by signal ") + signalName(signal) + "; no further command is sent to the device.";
    }
    if (!log) return true;
    log->flushPending(logEngine::COM);
    log->add(logEngine::ERR, errorMessage);
    reportArmedFallback();
    return true;
}

void Tarvo::reportWithoutHistory(bool jobRowKept) {
    std::string name = jobFile(".log");
    bool written = writeLogfile && log && log->getFileName() != "nofile";
    if (!written && log) {
        FILE* f = fopen(name.c_str(), "we");
        if (f) {
            std::string text = log->dumpAsString();
            written = fwrite(text.data(), 1, text.size(), f) == text.size();
            written = fclose(f) == 0 && written;
        }
    }
    const std::string where =
        written ? "the log is in '" + name + "'" : "the log could not be written to '" + name + "'";
    const std::string outcome = reason.empty() ? "the job itself succeeded" : reason + ": " + errorMessage;
    if (jobRowKept)
        fprintf(stderr, "Tarvo: ERROR: Could not store the history of job %lu (%s); the job row is kept and %s.\n",
                static_cast<unsigned long>(jobId), outcome.c_str(), where.c_str());
    else
        fprintf(stderr, "Tarvo: ERROR: Job %lu failed without a history row (%s); %s.\n",
                static_cast<unsigned long>(jobId), outcome.c_str(), where.c_str());
    fflush(stderr);
}
