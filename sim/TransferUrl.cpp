#include "sim/TransferUrl.h"

namespace {
bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool validHost(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
                  c == '_';
        if (!ok) return false;
    }
    return true;
}
}  // namespace

bool TransferUrl::parse(const std::string& text, TransferUrl& url, std::string& error) {
    url = TransferUrl();
    std::string rest;
    if (startsWith(text, "tftp:")) {
        url.scheme = "tftp";
        rest = text.substr(5);
        if (startsWith(rest, "//")) {
            error = "bad url '" + text + "': tftp takes tftp:HOST/";
            return false;
        }
    } else if (startsWith(text, "http://") || startsWith(text, "https://")) {
        url.scheme = text[4] == 's' ? "https" : "http";
        rest = text.substr(url.scheme.size() + 3);
    } else {
        error = "bad url '" + text + "': unsupported scheme";
        return false;
    }
    size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        error = "bad url '" + text + "': no path";
        return false;
    }
    std::string authority = rest.substr(0, slash);
    const std::string path = rest.substr(slash);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        if (url.scheme == "tftp") {
            error = "bad url '" + text + "': tftp takes no credentials";
            return false;
        }
        const std::string userInfo = authority.substr(0, at);
        size_t colon = userInfo.find(':');
        if (colon == std::string::npos || colon == 0) {
            error = "bad url: credentials are USER:PASSWORD@";
            return false;
        }
        url.hasCredentials = true;
        url.user = userInfo.substr(0, colon);
        url.password = userInfo.substr(colon + 1);
        authority = authority.substr(at + 1);
    }
    url.host = authority;
    if (!validHost(url.host)) {
        error = "bad url: bad host '" + url.host + "'";
        return false;
    }
    const std::string expectedPath = url.scheme == "tftp" ? "/" : "/tftpboot/";
    if (path != expectedPath) {
        error = "bad url: the server has no directory '" + path + "'";
        return false;
    }
    return true;
}

bool TransferUrl::validFileName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
                  c == '_';
        if (!ok) return false;
    }
    return true;
}

bool TransferUrl::credentialsAccepted(const std::string& expectedUser, const std::string& expectedPassword) const {
    // TFTP knows no users; the credentials are the HTTP server's.
    if (expectedUser.empty() || scheme == "tftp") return true;
    return hasCredentials && user == expectedUser && password == expectedPassword;
}
