#pragma once
#include <string>

// The two device families the simulator can stand in for (the job side
// has its own DeviceFamily value, with the family's texts).
enum class SimFamily { Nexa, QxCli };

// "nexa" or "qxcli": the spelling of the command line and of the state file.
inline const char* familyName(SimFamily family) {
    return family == SimFamily::Nexa ? "nexa" : "qxcli";
}

// False for any other text.
inline bool parseFamily(const std::string& text, SimFamily& family) {
    if (text == "nexa") {
        family = SimFamily::Nexa;
        return true;
    }
    if (text == "qxcli") {
        family = SimFamily::QxCli;
        return true;
    }
    return false;
}

// One login of the device. An empty password means the device lets the
// user in without asking for one.
struct Account {
    std::string user;
    std::string password;
};
