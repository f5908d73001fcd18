#include "tests/conn/ConnFixture.h"

#include <dirent.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace conntest {

namespace {

const size_t kStampLength = 22;  // "YYYY/MM/DD HH:MM:SS - "
const std::string kContinuation = "\n                            ";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct ProcessInfo {
    int pid = 0;
    int ppid = 0;
    std::string comm;
    std::string cmdline;  // arguments joined by blanks
};

std::vector<ProcessInfo> allProcesses() {
    std::vector<ProcessInfo> result;
    DIR* proc = opendir("/proc");
    if (!proc) return result;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        std::string base = std::string("/proc/") + entry->d_name;
        std::string stat = slurp(base + "/stat");
        size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 > stat.size()) continue;
        ProcessInfo info;
        info.pid = static_cast<int>(pid);
        info.comm = stat.substr(open + 1, close - open - 1);
        std::istringstream rest(stat.substr(close + 2));
        std::string state;
        rest >> state >> info.ppid;
        info.cmdline = slurp(base + "/cmdline");
        for (char& c : info.cmdline)
            if (c == '\0') c = ' ';
        if (state == "Z") info.comm += " (zombie)";
        result.push_back(info);
    }
    closedir(proc);
    return result;
}

// number stands in text as a number of its own, not as part of a longer one.
bool containsNumber(const std::string& text, const std::string& number) {
    for (size_t at = text.find(number); at != std::string::npos; at = text.find(number, at + 1)) {
        bool digitBefore = at > 0 && isdigit(static_cast<unsigned char>(text[at - 1]));
        size_t after = at + number.size();
        bool digitAfter = after < text.size() && isdigit(static_cast<unsigned char>(text[after]));
        if (!digitBefore && !digitAfter) return true;
    }
    return false;
}

}  // namespace

std::vector<LogEntry> parseLog(const logEngine& log) {
    std::vector<std::string> raw;
    log.fillVector(raw);
    std::vector<LogEntry> result;
    for (std::string line : raw) {
        if (!line.empty() && line.front() == '\n') line.erase(0, 1);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        LogEntry entry;
        if (line.size() >= kStampLength + 6 && line.compare(kStampLength + 3, 3, " - ") == 0) {
            entry.facility = line.substr(kStampLength, 3);
            line.erase(0, kStampLength + 6);
        }
        for (size_t at = line.find(kContinuation); at != std::string::npos; at = line.find(kContinuation, at))
            line.erase(at, kContinuation.size());
        entry.text = line;
        result.push_back(entry);
    }
    return result;
}

void ConnFixture::SetUp() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &action, nullptr);
}

void ConnFixture::TearDown() {
    EXPECT_EQ(clientProcesses(), "") << "a client outlived its connection";
    if (device.running()) {
        EXPECT_EQ(device.stop(), 0) << device.log();
    }
    // The simulator must not be what breaks (sanitizer builds check it too).
    EXPECT_EQ(device.log().find("Sanitizer"), std::string::npos) << device.log();
    EXPECT_EQ(device.log().find("runtime error"), std::string::npos) << device.log();
    if (HasFailure()) std::cerr << "---- connection log ----\n" << dump() << "---- devsim ----\n" << device.log();
}

void ConnFixture::startDevice(const std::vector<std::string>& options) {
    ASSERT_TRUE(device.start(options)) << device.error() << device.log();
}

ConnectSettings ConnFixture::settingsFor(const std::string& address, const std::string& fallback) const {
    ConnectSettings settings;
    settings.address = address;
    settings.fallbackAddress = fallback;
    settings.telnetPort = device.telnetPort();
    settings.sshPort = device.sshPort();
    settings.connectTimeout = 3;
    settings.commandTimeout = 3;
    return settings;
}

std::vector<std::string> ConnFixture::lines(const std::string& facility) const {
    std::vector<std::string> result;
    for (const auto& entry : entries())
        if (entry.facility == facility) result.push_back(entry.text);
    return result;
}

bool ConnFixture::hasLine(const std::string& facility, const std::string& text) const {
    return find(facility, text) != std::string::npos;
}

size_t ConnFixture::countLines(const std::string& facility, const std::string& text) const {
    size_t n = 0;
    for (const auto& entry : entries())
        if (entry.facility == facility && entry.text == text) ++n;
    return n;
}

size_t ConnFixture::find(const std::string& facility, const std::string& text, size_t from) const {
    auto all = entries();
    for (size_t i = from; i < all.size(); ++i)
        if (all[i].facility == facility && all[i].text == text) return i;
    return std::string::npos;
}

std::string ConnFixture::leakedSecrets(const std::vector<std::string>& secrets) const {
    std::string leaks;
    for (const auto& entry : entries()) {
        if (entry.facility == "DBG") continue;
        for (const auto& secret : secrets)
            if (!secret.empty() && entry.text.find(secret) != std::string::npos)
                leaks += entry.facility + " - " + entry.text + "\n";
    }
    return leaks;
}

std::string ConnFixture::clientProcesses() const {
    const int self = static_cast<int>(getpid());
    const std::string port = std::to_string(device.sshPort());
    std::string found;
    for (const auto& process : allProcesses()) {
        if (process.pid == self) continue;
        bool child = process.ppid == self && process.comm != "devsim";
        bool client = process.comm.rfind("ssh", 0) == 0 || process.comm.rfind("sftp", 0) == 0;
        bool ourPort = device.sshPort() > 0 && containsNumber(process.cmdline, port);
        if (child || (client && ourPort))
            found += std::to_string(process.pid) + " " + process.comm + ": " + process.cmdline + "\n";
    }
    return found;
}

size_t ConnFixture::childCount() const {
    const int self = static_cast<int>(getpid());
    size_t n = 0;
    for (const auto& process : allProcesses())
        if (process.ppid == self && process.comm != "devsim") ++n;
    return n;
}

double ConnFixture::now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

size_t ConnFixture::count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

}  // namespace conntest
