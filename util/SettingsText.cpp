#include "util/SettingsText.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "util/Pcre.h"
#include "util/logEngine.h"

const std::string SettingsText::notFound = "nostring";

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

// A directory opens but does not read: that is a failure too.
bool SettingsText::readFile(const std::string& path, std::string& text) {
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

std::string SettingsText::find(const std::string& text, const std::string& name, logEngine* log) {
    pcrepp::Pcre pattern("\\<" + name + "\\>(.*)\\<\\/" + name + "\\>", "i");
    if (!pattern.valid()) {
        if (log) log->addLine(logEngine::ERR, "Parser: %s", pattern.error().c_str());
        return notFound;
    }
    if (!pattern.search(withoutComments(text)) || pattern.matches() < 1) return notFound;
    return pattern.group(1);
}
