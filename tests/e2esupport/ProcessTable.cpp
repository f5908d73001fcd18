#include "tests/e2esupport/ProcessTable.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace e2e {

std::vector<ProcessTable::Entry> ProcessTable::snapshot() {
    std::vector<Entry> list;
    DIR* proc = opendir("/proc");
    if (!proc) return list;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = strtol(entry->d_name, &end, 10);
        if (!end || *end || pid <= 0) continue;
        std::string base = std::string("/proc/") + entry->d_name;
        std::ifstream stat(base + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // The name may hold blanks and parentheses: it ends at the last ')'.
        size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 > text.size()) continue;
        Entry info;
        info.pid = static_cast<pid_t>(pid);
        info.name = text.substr(open + 1, close - open - 1);
        std::istringstream rest(text.substr(close + 2));
        rest >> info.state >> info.parent;
        std::ifstream cmdline(base + "/cmdline");
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
