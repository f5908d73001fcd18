#pragma once
#include <string>
#include <vector>

// VirtualFs maps the paths an SFTP client uses ("/DSK/CONFIG.CFG",
// "MEM/x", "/DSK/../BIO") onto a directory of the host. Every path is
// normalised first ("." and empty parts dropped, ".." never climbs above
// the root), so no client path reaches outside the root. The root itself
// and its directories are fixed: files are made and removed only inside
// the device's directories.
class VirtualFs {
public:
    explicit VirtualFs(std::string hostRoot) : hostRoot_(std::move(hostRoot)) {}

    // The absolute client path for path given relative to "/".
    static std::string normalize(const std::string& path);
    // Host path of a normalised client path.
    std::string hostPath(const std::string& normalized) const;
    // Whether files may be made, changed or removed at a normalised path:
    // only below a top-level directory ("/DSK/x", not "/x" or "/DSK").
    static bool writable(const std::string& normalized);
    static std::vector<std::string> parts(const std::string& normalized);

private:
    std::string hostRoot_;
};
