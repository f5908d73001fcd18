#include "config/UniDiff.h"

#include <dtl/dtl.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <vector>

#include "db/Cordal_router.h"
#include "util/DeviceFamily.h"
#include "util/logEngine.h"

namespace {
// Lines are compared as numbers: every distinct line text gets one, so the
// difference compares integers instead of strings.
using LineIds = std::vector<unsigned>;

class LineTable {
public:
    unsigned idOf(const std::string& line) {
        auto found = ids.emplace(line, static_cast<unsigned>(texts.size()));
        if (found.second) texts.push_back(&found.first->first);
        return found.first->second;
    }
    const std::string& text(unsigned id) const { return *texts[id]; }

private:
    std::unordered_map<std::string, unsigned> ids;
    std::vector<const std::string*> texts;
};

bool readLines(const std::string& path, LineTable& table, LineIds& lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (UniDiff::safeGetline(in, line)) lines.push_back(table.idOf(line));
    return true;
}

// The hunks as unified-diff text: "@@ -a,b +c,d @@" and the lines behind
// a one-character mark, every line ending in a line feed.
std::string printHunks(const dtl::Diff<unsigned, LineIds>& diff, const LineTable& table) {
    std::string out;
    auto addLines = [&out, &table](const std::vector<std::pair<unsigned, dtl::elemInfo>>& elems) {
        for (const auto& e : elems) {
            char mark = e.second.type == dtl::SES_ADD ? '+' : e.second.type == dtl::SES_DELETE ? '-' : ' ';
            out += mark;
            out += table.text(e.first);
            out += '\n';
        }
    };
    for (const auto& hunk : diff.getUniHunks()) {
        out += "@@ -" + std::to_string(hunk.a) + "," + std::to_string(hunk.b) + " +" + std::to_string(hunk.c) + "," +
               std::to_string(hunk.d) + " @@\n";
        addLines(hunk.common[0]);
        addLines(hunk.change);
        addLines(hunk.common[1]);
    }
    return out;
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++count;
    return count;
}
}  // namespace

UniDiff::UniDiff(logEngine* logger, Cordal_router* routerRecord, const std::string& type, const std::string& first,
                 const std::string& second)
    : log(logger), router(routerRecord), deviceType(type), file1(first), file2(second) {}

std::istream& UniDiff::safeGetline(std::istream& in, std::string& line) {
    line.clear();
    std::istream::sentry guard(in, true);
    std::streambuf* buffer = in.rdbuf();
    for (;;) {
        int c = buffer->sbumpc();
        switch (c) {
            case '\n':
                return in;
            case '\r':
                if (buffer->sgetc() == '\n') buffer->sbumpc();
                return in;
            case std::streambuf::traits_type::eof():
                // A last line without a line end still counts; the end of
                // input alone ends the reading.
                if (line.empty()) in.setstate(std::ios::eofbit | std::ios::failbit);
                return in;
            default:
                line += static_cast<char>(c);
        }
    }
}

bool UniDiff::comparefiles() {
    LineTable table;
    LineIds first, second;
    if (!readLines(file1, table, first)) {
        log->add(logEngine::ERR, "File1 for comparing not readable! Aborting!");
        return false;
    }
    if (!readLines(file2, table, second)) {
        log->add(logEngine::ERR, "File2 for comparing not readable! Aborting!");
        return false;
    }
    dtl::Diff<unsigned, LineIds> diff(first, second);
    diff.onHuge();
    diff.compose();
    diff.composeUnifiedHunks();
    diffText = printHunks(diff, table);

    const size_t lineFeeds = countOf(diffText, "\n");
    const bool same =
        DeviceFamily(deviceType).isQxCli() ? lineFeeds == 0 : lineFeeds == 8 && countOf(diffText, "Created by") >= 2;
    if (same) {
        log->add(logEngine::INF, "The config files are the same.");
        return true;
    }
    log->add(logEngine::INF, "The config files are different.");
    maskSecrets();
    log->addBlob(logEngine::RAW, diffText);
    log->flushPending(logEngine::RAW);
    return false;
}

void UniDiff::maskSecrets() {
    if (!router) return;
    for (const std::string* value :
         {&router->pass, &router->ipsec, &router->tmibadmadmincommunity, &router->oldcommunity,
          &router->tmibadmreadcommunity, &router->tmibadmwritecommunity, &router->tmibadmhttppassword})
        replace(*value, "******");
    for (const auto& variable : router->variables) {
        auto flag = router->passwordFlags.find("pwd_" + variable.first);
        if (flag != router->passwordFlags.end() && flag->second == "yes") replace(variable.second, "******");
    }
}

void UniDiff::replace(const std::string& value, const std::string& replacement) {
    if (value.empty() || diffText.find(value) == std::string::npos) return;
    log->addLine(logEngine::DBG, "A Password marked string was found ('%s'). Replace it with ******", value.c_str());
    std::string out;
    size_t from = 0;
    for (size_t at = diffText.find(value); at != std::string::npos; at = diffText.find(value, from)) {
        out.append(diffText, from, at - from);
        out += replacement;
        from = at + value.size();
    }
    out.append(diffText, from, std::string::npos);
    diffText = out;
}

void UniDiff::unlink() {
    std::remove(file2.c_str());
    std::remove(file1.c_str());
}
