#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

// ProcessTable reads /proc: which processes run, who started them and
// with what command line. End-to-end tests use it to find a running job's
// process and its clients, and to prove that nothing was left behind.
namespace e2e {

class ProcessTable {
public:
    struct Entry {
        pid_t pid = 0;
        pid_t parent = 0;
        char state = '?';                // 'Z' for a zombie
        std::string name;                // the command name (comm)
        std::vector<std::string> words;  // the command line
    };

    static std::vector<Entry> snapshot();
    // The process of job jobId run by the test runner with this root; 0
    // when there is none.
    static pid_t findJob(const std::string& root, unsigned long jobId);
    // The living descendants of ancestor named name.
    static std::vector<pid_t> descendantsNamed(pid_t ancestor, const std::string& name);
    // What is left that should not be: children of job (when not 0),
    // zombies of this process, and ssh, sftp or sh processes whose command
    // line names one of the ports. One line per process; "" when nothing.
    static std::string leftBehind(pid_t job, const std::vector<int>& ports);
};

}  // namespace e2e
