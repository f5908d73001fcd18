#include "sim/TransferUrl.h"

#include <sys/stat.h>

namespace {

bool splitPath(const std::string& rest, TransferUrl& url, std::string& error) {
    size_t slash = rest.find('/');
    if (slash == std::string::npos || slash == 0) {
        error = "no host in URL";
        return false;
    }
    url.host = rest.substr(0, slash);
    url.path = rest.substr(slash + 1);
    if (url.host.find_first_of(" \t@") != std::string::npos) {
        error = "bad host in URL";
        return false;
    }
    return true;
}

}  // namespace

bool TransferUrl::parse(const std::string& text, TransferUrl& url, std::string& error) {
    url = TransferUrl();
    std::string rest;
    if (text.compare(0, 5, "tftp:") == 0) {
        url.scheme = "tftp";
        rest = text.substr(5);
        if (rest.compare(0, 2, "//") == 0) rest = rest.substr(2);
    } else if (text.compare(0, 7, "http://") == 0) {
        url.scheme = "http";
        rest = text.substr(7);
    } else if (text.compare(0, 8, "https://") == 0) {
        url.scheme = "https";
        rest = text.substr(8);
    } else {
        error = "unsupported URL scheme";
        return false;
    }
    size_t at = rest.find('@');
    size_t slash = rest.find('/');
    if (at != std::string::npos && at < slash) {
        if (url.scheme == "tftp") {
            error = "tftp takes no credentials";
            return false;
        }
        url.credentials = rest.substr(0, at);
        rest = rest.substr(at + 1);
        if (url.credentials.find(':') == std::string::npos) {
            error = "credentials without password";
            return false;
        }
    }
    return splitPath(rest, url, error);
}

bool TransferUrl::localFile(const std::string& transferDir, std::string& file, std::string& error) const {
    std::string served = path;
    if (scheme != "tftp") {
        const std::string root = "tftpboot/";
        if (served.compare(0, root.size(), root) != 0) {
            error = "404 Not Found";
            return false;
        }
        served = served.substr(root.size());
    }
    size_t start = 0;
    while (start <= served.size()) {
        size_t end = served.find('/', start);
        if (end == std::string::npos) end = served.size();
        const std::string part = served.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            error = scheme == "tftp" ? "TFTP error: access violation" : "403 Forbidden";
            return false;
        }
        start = end + 1;
    }
    if (transferDir.empty()) {
        error = "no transfer server reachable";
        return false;
    }
    file = transferDir + (transferDir.back() == '/' ? "" : "/") + served;
    struct stat st;
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = scheme == "tftp" ? "TFTP error: file not found" : "404 Not Found";
        return false;
    }
    return true;
}
