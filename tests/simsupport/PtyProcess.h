#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/simsupport/StreamReader.h"

namespace testsim {

// PtyProcess runs a program on a pseudo-terminal, the way the product runs
// ssh and sftp, so a test can answer password prompts and drive the
// session: send() types text, expect() reads until a plain text shows up.
// The program runs in a session and process group of its own with default
// signal handling; the destructor ends the group (SIGTERM, then SIGKILL)
// and reaps it, so no client outlives the test.
class PtyProcess : public StreamReader {
public:
    PtyProcess() = default;
    ~PtyProcess();
    PtyProcess(const PtyProcess&) = delete;
    PtyProcess& operator=(const PtyProcess&) = delete;

    // argv[0] is searched in PATH.
    bool start(const std::vector<std::string>& argv);
    bool send(const std::string& text);
    // Waits until text occurs in the output after the previous match;
    // the next expect() searches after this match.
    bool expect(const std::string& text, int timeoutMs = 15000) { return StreamReader::expect(text, timeoutMs); }
    // Reads until the program closes the terminal; false on time-out.
    bool waitForEof(int timeoutMs = 15000) { return waitForEnd(timeoutMs); }
    // Everything the program wrote so far.
    const std::string& output() const { return data(); }
    // The exit status (128 + signal), or -1 when it did not end in time.
    int wait(int timeoutMs = 15000);
    // Ends the process group and reaps it.
    void kill();

private:
    pid_t pid_ = -1;
    int master_ = -1;
    int status_ = -1;
};

}  // namespace testsim
