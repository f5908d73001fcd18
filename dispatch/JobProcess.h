#pragma once
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// JobProcess is one job runner process the dispatcher started for one job.
// It owns the child: start() spawns it in a process group of its own, with
// default signal dispositions, an empty signal mask, standard input from
// /dev/null and no descriptor of the dispatcher beyond standard output and
// error (the job's own lines go to the journal with the dispatcher's).
// The dispatcher reaps its children itself (waitpid on any child) and
// hands each exit status to the process it belongs to with ended().
// A process still running when the object goes is sent SIGTERM and
// waited for, so no child outlives its dispatcher's bookkeeping.
class JobProcess {
public:
    struct Job {
        unsigned long id = 0;
        unsigned long routerId = 0;
        std::string workmode;
    };

    explicit JobProcess(Job job);
    ~JobProcess();
    JobProcess(const JobProcess&) = delete;
    JobProcess& operator=(const JobProcess&) = delete;

    // Runs argv (argv[0] is the program's path). False with error set when
    // the process could not be created.
    bool start(const std::vector<std::string>& argv, std::string& error);
    // Records the wait status of the reaped child.
    void ended(int waitStatus);
    // SIGTERM to the process (not its group: the job ends its own clients).
    void terminate() const;

    const Job& job() const { return job_; }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !reaped_; }
    // Seconds since start (until the end once it ended).
    double seconds() const;
    // The exit code, or -1 after a signal; signal() then names it.
    int exitCode() const { return exitCode_; }
    int signal() const { return signal_; }

private:
    Job job_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int exitCode_ = -1;
    int signal_ = 0;
    std::chrono::steady_clock::time_point startedAt_, endedAt_;
};
