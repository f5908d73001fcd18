#include "tests/e2esupport/ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace e2e {

namespace {
// The whole of a /proc file, or what could be read of it: a process that
// ends while it is read makes read() fail with ESRCH, which a stream would
// raise as an exception.
std::string readProcFile(const std::string& path) {
    std::string text;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}
}  // namespace

std::vector<ProcessTable::Entry> ProcessTable::snapshot() {
    std::vector<Entry> list;
    DIR* proc = opendir("/proc");
    if (!proc) return list;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = strtol(entry->d_name, &end, 10);
        if (!end || *end || pid <= 0) continue;
        std::string base = std::string("/proc/") + entry->d_name;
        std::string text = readProcFile(base + "/stat");
        // The name may hold blanks and parentheses: it ends at the last ')'.
        size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 > text.size()) continue;
        Entry info;
        info.pid = static_cast<pid_t>(pid);
        info.name = text.substr(open + 1, close - open - 1);
        std::istringstream rest(text.substr(close + 2));
        rest >> info.state >> info.parent;
        std::istringstream cmdline(readProcFile(base + "/cmdline"));
        std::string word;
        while (std::getline(cmdline, word, '\0')) info.words.push_back(word);
        list.push_back(info);
    }
    closedir(proc);
    return list;
}

pid_t ProcessTable::findJob(const std::string& root, unsigned long jobId) {
    const std::string id = std::to_string(jobId);
    for (const auto& p : snapshot()) {
        bool hasRoot = false, hasJob = false;
        for (size_t i = 0; i < p.words.size(); ++i) {
            hasRoot = hasRoot || p.words[i] == root;
            hasJob = hasJob || (p.words[i] == "-j" && i + 1 < p.words.size() && p.words[i + 1] == id);
        }
        if (hasRoot && hasJob && p.state != 'Z') return p.pid;
    }
    return 0;
}

std::vector<pid_t> ProcessTable::descendantsNamed(pid_t ancestor, const std::string& name) {
    auto all = snapshot();
    std::vector<pid_t> family{ancestor}, found;
    for (size_t i = 0; i < family.size(); ++i)
        for (const auto& p : all)
            if (p.parent == family[i] && p.state != 'Z') {
                family.push_back(p.pid);
                if (p.name == name) found.push_back(p.pid);
            }
    return found;
}

std::string ProcessTable::leftBehind(pid_t job, const std::vector<int>& ports) {
    std::vector<std::string> portWords;
    for (int port : ports) {
        portWords.push_back(std::to_string(port));
        portWords.push_back("-P" + std::to_string(port));
    }
    std::string found;
    for (const auto& p : snapshot()) {
        std::string what = std::to_string(p.pid) + " " + p.name + " (" + p.state + ")";
        if (job > 0 && p.parent == job) found += "child of the job: " + what + "\n";
        if (p.parent == getpid() && p.state == 'Z') found += "zombie: " + what + "\n";
        if (p.name != "ssh" && p.name != "sftp" && p.name != "sh") continue;
        bool names = false;
        for (const auto& word : p.words)
            for (const auto& portWord : portWords) names = names || word == portWord;
        if (names) found += "client of the device: " + what + "\n";
    }
    return found;
}

}  // namespace e2e
