#include "util/Paths.h"

Paths::Paths(std::string installationRoot) : root(std::move(installationRoot)) {
    while (!root.empty() && root.back() == '/') root.pop_back();
}

std::string Paths::settingsFile() const {
    return root + "/etc/cordal.xml";
}
std::string Paths::transferDir() const {
    return root + "/tftpboot/";
}
std::string Paths::templateDir() const {
    return root + "/var/template/master/";
}
std::string Paths::binDir() const {
    return root + "/bin/";
}
