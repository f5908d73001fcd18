#pragma once
#include <string>

// TransferUrl is the device's reading of a file URL handed to one of its
// commands: "tftp:HOST/PATH", "http://[USER:PASSWORD@]HOST/PATH" or the same
// with https. The simulated transfer server serves the transfer directory
// given with --transfer-dir: over TFTP its root, over HTTP(S) below the
// path "/tftpboot/". A path that climbs ("..") or is empty is refused, as
// a server would refuse it.
struct TransferUrl {
    std::string scheme;  // "tftp", "http" or "https"
    std::string credentials;
    std::string host;
    std::string path;  // below the server's root, without leading '/'

    // False with the device's complaint in error.
    static bool parse(const std::string& text, TransferUrl& url, std::string& error);
    // The local file the URL names under transferDir; false (with error) when
    // the server would not serve it.
    bool localFile(const std::string& transferDir, std::string& file, std::string& error) const;
};
