#include "util/logEngine.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {
const char* const kNoFile = "nofile";
const size_t kWrapWidth = 100;
const char* const kContinuationIndent = "\n                            ";  // 28 blanks

void writeAll(FILE* stream, const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        fwrite(line.data(), 1, line.size(), stream);
        fputc('\n', stream);
    }
    fflush(stream);
}
}  // namespace

logEngine::logEngine() : logEngine(false, kNoFile) {}
logEngine::logEngine(bool debugOn) : logEngine(debugOn, kNoFile) {}
logEngine::logEngine(bool debugOn, const std::string& file) : debug(debugOn), fileName(file), directPrint(false) {}

std::string logEngine::format(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    char buffer[kLineLimit];
    int length = vsnprintf(buffer, sizeof buffer, format, args);
    if (length < 0) length = 0;
    if (static_cast<size_t>(length) < sizeof buffer) {
        va_end(again);
        return std::string(buffer, static_cast<size_t>(length));
    }
    std::string whole(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&whole[0], whole.size(), format, again);
    va_end(again);
    whole.resize(static_cast<size_t>(length));
    return whole;
}

std::string logEngine::formatLine(const char* format, va_list args) {
    std::string text = logEngine::format(format, args);
    if (text.size() >= kLineLimit) text.resize(kLineLimit - 1);
    return text;
}

void logEngine::addLine(int facility, const char* format, ...) {
    va_list args;
    va_start(args, format);
    addLineV(facility, format, args);
    va_end(args);
}

void logEngine::addLineV(int facility, const char* format, va_list args) {
    std::string text = logEngine::format(format, args);
    // The cut could fall into a secret and leave its first part unmasked:
    // a text too long for a line is masked before it is cut.
    if (text.size() >= kLineLimit && facility != DBG && !secrets.empty()) text = maskSecrets(text);
    if (text.size() >= kLineLimit) text.resize(kLineLimit - 1);
    add(facility, text);
}

void logEngine::add(int facility, const std::string& message) {
    // A discarded debug line costs nothing else.
    if (facility == DBG && !debug) return;
    // Masked before the line is wrapped, so a secret never straddles two
    // lines of the log.
    std::string text = facility == DBG ? message : maskSecrets(message);
    cleanup(text);

    std::string line;
    if (facility == RAW) {
        line = text;
    } else {
        if (facility == ERR) line += '\n';
        line += getTimestamp();
        line += getFacilityString(facility);
        size_t pos = 0;
        while (text.size() - pos > kWrapWidth) {
            line.append(text, pos, kWrapWidth);
            line += kContinuationIndent;
            pos += kWrapWidth;
        }
        line.append(text, pos, std::string::npos);
        if (facility == ERR) line += '\n';
    }

    lines.push_back(line);

    if (fileName != kNoFile && !fileHeld) {
        // Opened anew for every line, so the file can be read or removed
        // from outside at any time; a removed file is simply created again.
        FILE* f = fopen(fileName.c_str(), "ae");
        if (!f) {
            fileName = kNoFile;
        } else {
            fwrite(line.data(), 1, line.size(), f);
            fputc('\n', f);
            fclose(f);
        }
    }
    if (directPrint) {
        fwrite(line.data(), 1, line.size(), stdout);
        fputc('\n', stdout);
        fflush(stdout);
    }
}

void logEngine::addSecret(const std::string& secret) {
    if (secret.empty() || std::find(secrets.begin(), secrets.end(), secret) != secrets.end()) return;
    // A longer secret goes first, so none that contains another is left
    // half shown.
    auto at = std::find_if(secrets.begin(), secrets.end(),
                           [&](const std::string& known) { return known.size() < secret.size(); });
    secrets.insert(at, secret);
}

std::string logEngine::maskSecrets(const std::string& text) const {
    std::string masked = text;
    for (const auto& secret : secrets) masked = maskLiterally(masked, secret);
    return masked;
}

namespace {
// A secret shorter than this is masked only where it stands alone: two
// letters occur inside too many ordinary words ("c******fig").
const size_t kShortSecret = 4;

bool wordCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Whether the occurrence of secret at at continues a longer word on either
// side.
bool insideWord(const std::string& text, size_t at, const std::string& secret) {
    const size_t end = at + secret.size();
    return (at > 0 && wordCharacter(text[at - 1]) && wordCharacter(secret.front())) ||
           (end < text.size() && wordCharacter(text[end]) && wordCharacter(secret.back()));
}
}  // namespace

std::string logEngine::maskLiterally(const std::string& text, const std::string& secret) {
    if (secret.empty()) return text;
    const bool wordsOnly = secret.size() < kShortSecret;
    std::string out;
    size_t from = 0;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 1)) {
        if (at < from || (wordsOnly && insideWord(text, at, secret))) continue;
        out.append(text, from, at - from);
        out += "******";
        from = at + secret.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

void logEngine::addBlob(int facility, const std::string& chunk) {
    addBlob(facility, chunk.data(), chunk.size());
}

void logEngine::addBlob(int facility, const char* data, size_t length) {
    // Walked with an offset, never by erasing what was taken, and the next
    // line feed looked for only once it has been passed: a reply of many
    // megabytes, or of many lines ended by carriage returns alone (a
    // progress meter), is cut into its lines in linear time.
    const std::string rest(data, length);
    size_t from = 0;
    size_t lineFeed = rest.find('\n');
    for (;;) {
        if (lineFeed != std::string::npos && lineFeed < from) lineFeed = rest.find('\n', from);
        size_t cut = lineFeed;
        if (cut == std::string::npos) cut = rest.find('\r', from);
        if (cut == std::string::npos) break;
        std::string line = pending + rest.substr(from, cut - from);
        pending.clear();
        from = cut + 1;
        add(facility, line);
    }
    pending += rest.substr(from);
}

void logEngine::flushPending(int facility) {
    if (pending.empty()) return;
    std::string line = pending + "\n";
    pending.clear();
    add(facility, line);
}

void logEngine::fillVector(std::vector<std::string>& out) const {
    out.insert(out.end(), lines.begin(), lines.end());
}

void logEngine::dumpLogStderr() const {
    writeAll(stderr, lines);
}
void logEngine::dumpLogStdout() const {
    writeAll(stdout, lines);
}

std::string logEngine::dumpAsString() const {
    std::string all;
    for (const auto& line : lines) {
        all += line;
        all += '\n';
    }
    return all;
}

void logEngine::releaseFile() {
    if (!fileHeld) return;
    fileHeld = false;
    if (fileName == kNoFile) return;
    FILE* f = fopen(fileName.c_str(), "ae");
    if (!f) {
        fileName = kNoFile;
        return;
    }
    writeAll(f, lines);
    fclose(f);
}

void logEngine::dropFile() {
    fileHeld = false;
    fileName = kNoFile;
}

void logEngine::unlink() {
    if (fileName != kNoFile) ::unlink(fileName.c_str());
}

void logEngine::cleanup(std::string& text) {
    for (char& c : text)
        if (!isprint(static_cast<unsigned char>(c))) c = ' ';
}

std::string logEngine::getFacilityString(int facility) {
    switch (facility) {
        case COM:
            return "COM - ";
        case CTL:
            return "CTL - ";
        case DB:
            return "DB  - ";
        case RAW:
            return "";
        case INF:
            return "INF - ";
        case ERR:
            return "ERR - ";
        case DBG:
            return "DBG - ";
        default:
            return "??? - ";
    }
}

std::string logEngine::getTimestamp() {
    char buffer[64];
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(buffer, sizeof buffer, "%Y/%m/%d %H:%M:%S - ", &local);
    return buffer;
}
