// The NEXA commands of inventory and passwords: the system summary, the
// board table, the community assignments and saving them for the boot.
#include <ctime>

#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/NexaShell.h"

void NexaShell::systemSummary(const Args&) {
    std::string serial = "unknown";
    state_.variable("tmibAdmSystemId", serial);
    sayLine("System " + options_.hostname + ", serial " + serial + ", up " +
            std::to_string(static_cast<long long>(time(nullptr) - state_.bootTime())) + " seconds");
}

bool NexaShell::showTableColumn(const std::string& column) {
    std::string table, value;
    if (!state_.tableColumn(column, table, value)) return false;
    sayLine(table + "." + column + ".1(\"" + value + "\")");
    return true;
}

// The administrator community is the admin login's password: the next
// login needs the new one. Like every assignment, it is answered with the
// new value.
bool NexaShell::assignPassword(const std::string& name, const std::string& value) {
    if (name == "tmibAdmAdminCommunity")
        state_.setAdminPassword(value);
    else if (name == "tmibAdmReadCommunity")
        state_.setCommunity("read", value);
    else if (name == "tmibAdmWriteCommunity")
        state_.setCommunity("write", value);
    else
        return false;
    sayLine(formatVariable(name, value));
    return true;
}

