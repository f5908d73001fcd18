#pragma once
#include <atomic>
#include <string>
#include <vector>

class logEngine;

// Helpers shared by the tests: real child processes and per-test folders.
namespace testsupport {

struct ProcessResult {
    int exitCode = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs argv[0] (searched in PATH) with the arguments, stdin from /dev/null,
// and collects standard output and standard error. timeoutSeconds ends
// the child with SIGKILL (exit code 128 + 9) when it runs longer.
// startedPid, when given, receives the child's pid as soon as it runs (for
// a test that signals the child from another thread).
ProcessResult runProcess(const std::vector<std::string>& argv, int timeoutSeconds = 120,
                         std::atomic<int>* startedPid = nullptr);

// The build tree's path of a built program (for example "tarvo-test-runner").
std::string builtProgram(const std::string& relativePath);

// A fresh, empty folder under the build tree, named after the running
// test; removed with its contents when the object goes (unless the test
// failed, so a failure can be inspected).
class TempDir {
public:
    explicit TempDir(const std::string& tag = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Substring test, the commonest check on logs and transcripts.
inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
// A job log with its wrapped long messages joined again (the log engine
// continues a message after 100 characters on a line indented by 28 blanks).
std::string unwrappedLog(std::string log);
// The whole log of an engine, unwrapped.
std::string logText(const logEngine& log);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
void makeDirs(const std::string& path);

}  // namespace testsupport
