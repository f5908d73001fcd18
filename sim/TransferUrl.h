#pragma once
#include <string>

// TransferUrl is the server part of a NEXA transfer command, parsed the way
// the device does it, strictly: "tftp:HOST/" for TFTP and
// "http://[USER:PASS@]HOST/tftpboot/" or the same with https:// for HTTP
// and HTTPS. The file name travels as a separate argument. Schemes are
// lower case; a TFTP URL carries no credentials; the host is letters,
// digits, '.', '-' and '_'.
struct TransferUrl {
    std::string scheme;  // "tftp", "http" or "https"
    bool hasCredentials = false;
    std::string user;
    std::string password;
    std::string host;

    // False with the device's complaint in error.
    static bool parse(const std::string& text, TransferUrl& url, std::string& error);
    // A file name the server serves from its directory: one path element of
    // letters, digits, '.', '-' and '_', not "." or "..".
    static bool validFileName(const std::string& name);
    // The server's judgement of the credentials: when it expects a user
    // (expectedUser not empty) an HTTP or HTTPS URL must carry exactly that user and
    // password; otherwise any credentials, or none, pass.
    bool credentialsAccepted(const std::string& expectedUser, const std::string& expectedPassword) const;
};
