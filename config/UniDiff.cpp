#include "config/UniDiff.h"

#include <cstdio>

#include "config/MappedFile.h"
#include "config/UnifiedHunks.h"
#include "db/Cordal_router.h"
#include "util/DeviceFamily.h"
#include "util/logEngine.h"

namespace {
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
    const MappedFile first(file1);
    if (!first.ok()) {
        log->add(logEngine::ERR, "File1 for comparing not readable! Aborting!");
        return false;
    }
    const MappedFile second(file2);
    if (!second.ok()) {
        log->add(logEngine::ERR, "File2 for comparing not readable! Aborting!");
        return false;
    }
    diffText = UnifiedHunks::between(first.text(), second.text());

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
