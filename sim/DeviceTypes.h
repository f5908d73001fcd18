#pragma once
#include <string>

// The two device families the simulator can stand in for.
enum class DeviceFamily { Nexa, QxCli };

// "nexa" or "qxcli": the spelling of the command line and of the state file.
inline const char* familyName(DeviceFamily family) {
    return family == DeviceFamily::Nexa ? "nexa" : "qxcli";
}

// False for any other text.
inline bool parseFamily(const std::string& text, DeviceFamily& family) {
    if (text == "nexa") {
        family = DeviceFamily::Nexa;
        return true;
    }
    if (text == "qxcli") {
        family = DeviceFamily::QxCli;
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
