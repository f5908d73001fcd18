#include "main/configHandler.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <memory>

#include "util/Pcre.h"
#include "util/logEngine.h"
#include "xml/XMLElement.h"
#include "xml/XMLElementException.h"
#include "xml/XMLParser.h"

const std::string configHandler::notFound = "nostring";

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    ~FileDescriptor() {
        if (fd >= 0) close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

// The whole file, or false when it cannot be opened or read (a directory
// opens but does not read).
bool readWholeFile(const std::string& path, std::string& text) {
    text.clear();
    int descriptor;
    do descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    while (descriptor < 0 && errno == EINTR);
    FileDescriptor file(descriptor);
    if (file.get() < 0) return false;
    char buffer[65536];
    while (true) {
        ssize_t n = read(file.get(), buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            text.clear();
            return false;
        }
    }
}

// The text without its comments. A commented-out setting (an old database
// host kept for reference) must not win over the real one, which is what
// every XML reader of the file, the management system's included, sees.
// A comment that never ends runs to the end of the text.
std::string withoutComments(const std::string& text) {
    std::string kept;
    size_t from = 0;
    while (true) {
        size_t open = text.find("<!--", from);
        if (open == std::string::npos) {
            kept.append(text, from, std::string::npos);
            return kept;
        }
        kept.append(text, from, open - from);
        size_t close = text.find("-->", open + 3);
        if (close == std::string::npos) return kept;
        from = close + 3;
    }
}

}  // namespace

configHandler::configHandler(logEngine* engine, std::string file) : log(engine), settingsFile(std::move(file)) {}

std::string configHandler::getFromCfg(const std::string& name) const {
    std::string text;
    if (!readWholeFile(settingsFile, text) && log)
        log->addLine(logEngine::ERR, "Could not open config file (%s). Aborting.", settingsFile.c_str());
    return findSetting(text, name, log);
}

// The value runs from the opening tag to the last closing tag of that name on
// the same line, in any letter case; comments are not searched. The name is part of the pattern as it
// is; callers pass fixed element names.
std::string configHandler::findSetting(const std::string& text, const std::string& name, logEngine* log) {
    pcrepp::Pcre pattern("\\<" + name + "\\>(.*)\\<\\/" + name + "\\>", "i");
    if (!pattern.valid()) {
        if (log) log->addLine(logEngine::ERR, "Parser: %s", pattern.error().c_str());
        return notFound;
    }
    if (!pattern.search(withoutComments(text)) || pattern.matches() < 1) return notFound;
    return pattern.group(1);
}

bool configHandler::readRows(const std::vector<XmlRow>& rows) const {
    XMLParser parser;
    std::unique_ptr<XMLElement> top;
    try {
        top.reset(parser.load(settingsFile));
    } catch (const XMLParserException& e) {
        // The parser quotes the offending line, which may hold a password:
        // the ordinary log gets only where it went wrong.
        if (!log) return false;
        if (parser.lineNumber() == 0) {
            // Not one line read (missing, unreadable or empty): no text to hide.
            log->addLine(logEngine::ERR, "Could not read config file '%s' (%s).", settingsFile.c_str(), e.what());
        } else {
            log->addLine(logEngine::ERR, "Could not parse config file '%s' (line %u).", settingsFile.c_str(),
                         parser.lineNumber());
            log->addLine(logEngine::DBG, "Parser: %s", e.what());
        }
        return false;
    }
    return applyRows(*top, rows, log);
}

bool configHandler::applyRows(XMLElement& top, const std::vector<XmlRow>& rows, logEngine* log) {
    for (const XmlRow& row : rows) {
        try {
            XMLElement* element = top.getChildp(row.path());
            if (row.leaf) element = element->getChild(*row.leaf);
            *row.member = element->getContent();
        } catch (const XMLElementException& e) {
            if (row.optional()) continue;
            if (log) log->addLine(logEngine::ERR, "Could not read '%s' ('%s').", row.text().c_str(), e.what());
            return false;
        }
    }
    return true;
}
