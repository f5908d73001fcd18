// The qx.CLI commands of inventory and passwords: the monitor process's
// version report and the admin password of the running configuration
// (at once) and of the static configuration (kept by "save yes").
#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/QxCliShell.h"

const CommandTable<QxCliShell>& QxCliShell::monitorCommands() {
    static const CommandTable<QxCliShell> table = {
        {"version", &QxCliShell::version},
        {"exit", &QxCliShell::exitMode},
    };
    return table;
}

const CommandTable<QxCliShell>& QxCliShell::configCommands() {
    static const CommandTable<QxCliShell> table = {
        {"user admin password", &QxCliShell::staticAdminPassword},
        {"save", &QxCliShell::save},
        {"exit", &QxCliShell::exitMode},
    };
    return table;
}

void QxCliShell::version(const Args& args) {
    if (!args.empty()) {
        error("Invalid parameter");
        return;
    }
    say(state_.versionReport(options_.hostname));
}

void QxCliShell::runningAdminPassword(const Args& args) {
    if (args.size() != 1) {
        error("Invalid parameter");
        return;
    }
    state_.setAdminPassword(args[0]);
    sayLine("Password of user admin changed.");
}

void QxCliShell::staticAdminPassword(const Args& args) {
    if (args.size() != 1) {
        error("Invalid parameter");
        return;
    }
    state_.setStaticAdminPassword(args[0]);
    sayLine("Password of user admin changed (static configuration, not yet saved).");
}

void QxCliShell::save(const Args& args) {
    auto saveNow = [this] {
        state_.saveStaticPasswords();
        sayLine("Configuration saved.");
    };
    if (args.size() == 1 && args[0] == "yes") {
        saveNow();
        return;
    }
    if (!args.empty()) {
        error("Invalid parameter");
        return;
    }
    confirm("Save configuration? (Yes/No) ", [saveNow](bool yes) {
        if (yes) saveNow();
    });
}
