#pragma once
#include <string>

// Paths derives every fixed location of an installation from one root
// (normally "/opsbase"). The program gets one value at start-up; components
// below main/ receive the single directory they need as an argument.
struct Paths {
    explicit Paths(std::string installationRoot);

    std::string root;  // without trailing slash, "" for "/"

    std::string settingsFile() const;  // root + "/etc/cordal.xml"
    std::string transferDir() const;   // root + "/tftpboot/" (trailing slash)
    std::string templateDir() const;   // root + "/var/template/master/"
    std::string binDir() const;        // root + "/bin/"
};
