#include "tests/expect/ExpectTestSupport.h"

#include "util/ExpectException.h"

#include <dirent.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace expecttest {

int openDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}

std::vector<std::string> statFields(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::vector<std::string> fields;
    size_t close = line.rfind(')');
    if (close == std::string::npos) return fields;
    std::istringstream rest(line.substr(close + 1));
    for (std::string f; rest >> f;) fields.push_back(f);
    return fields;
}

bool running(int pid) {
    std::vector<std::string> fields = statFields(pid);
    return !fields.empty() && fields[0] != "Z" && fields[0] != "X";
}

long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool endsWithin(int pid, int ms) {
    long long deadline = nowMs() + ms;
    while (running(pid)) {
        if (nowMs() > deadline) return false;
        usleep(5000);
    }
    return true;
}

bool noChildren() {
    int status;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

std::string raised(const std::function<void()>& action) {
    try {
        action();
    } catch (const ExpectException& e) {
        return e.what();
    }
    return "(nothing raised)";
}

}  // namespace expecttest
