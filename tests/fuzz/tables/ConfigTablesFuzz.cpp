// libFuzzer target: any two texts as a downloaded configuration and a
// processed template (split at the first NUL byte; no NUL: no template).
// The merge either fails with a logged line number or writes a result that
// is the download with some of its tables taken from the template.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/configFile.h"
#include "util/logEngine.h"

namespace {
// One folder for the whole run, removed at exit.
class Folder {
public:
    Folder() {
        char pattern[] = "/tmp/tarvo-tables-fuzz.XXXXXX";
        if (!mkdtemp(pattern)) abort();
        path = std::string(pattern) + "/";
    }
    ~Folder() {
        unlink((path + "7.config").c_str());
        unlink((path + "downloaded").c_str());
        rmdir(path.c_str());
    }
    std::string path;
};

void writeAll(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (!text.empty() && fwrite(text.data(), 1, text.size(), f) != text.size()) abort();
    fclose(f);
}

std::string readAll(const std::string& path) {
    std::string text;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) abort();
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    fclose(f);
    return text;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Folder folder;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    const std::string downloaded = input.substr(0, split);
    const std::string processed = split == std::string::npos ? "" : input.substr(split + 1);
    writeAll(folder.path + "downloaded", downloaded);
    writeAll(folder.path + "7.config", processed);

    logEngine log;
    configFile config(&log, 7, ".config", folder.path);
    if (config.getFileName().empty() || config.getBuffer() != processed) __builtin_trap();

    configFile::Lines a, b;
    configFile::Blocks aBlocks, bBlocks;
    configFile::TableNames aNames, bNames;
    if (!config.readLines(folder.path + "downloaded", a) || !config.readLines(folder.path + "7.config", b))
        __builtin_trap();
    // Reading as lines loses nothing.
    std::string joined;
    for (const auto& line : a) joined += line;
    if (joined != downloaded) __builtin_trap();
    const bool splitA = config.getTables(a, aBlocks, aNames, true);
    const bool splitB = config.getTables(b, bBlocks, bNames, false);
    for (const auto& name : aNames)
        if (name.second >= aBlocks.size()) __builtin_trap();
    bool shared = false;
    for (const auto& name : bNames) shared = shared || aNames.count(name.first) > 0;

    const int linesBefore = log.getLines();
    const bool merged = config.mergeCfgFiles(folder.path + "downloaded");
    if (merged != (splitA && splitB)) __builtin_trap();
    if (!merged) {
        // A failure names its reason, and the output file is left alone.
        if (log.getLines() == linesBefore || readAll(folder.path + "7.config") != processed) __builtin_trap();
        return 0;
    }
    const std::string result = readAll(folder.path + "7.config");
    if (result != config.getBuffer()) __builtin_trap();
    // Without a table in common the download comes back unchanged.
    if (!shared && result != downloaded) __builtin_trap();
    return 0;
}
