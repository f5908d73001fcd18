// The boot configuration file of a qx.CLI device: "set file-cfg" in the
// running configuration shows it, "set file-cfg NAME" chooses it. The file
// itself is /DSK/NAME.CFG of the SFTP file system.
#include "sim/ConfigStore.h"
#include "sim/DeviceState.h"
#include "sim/QxCliShell.h"

void QxCliShell::fileCfg(const Args& args) {
    ConfigStore& store = state_.configs();
    if (args.size() > 1) {
        error("Invalid parameter");
        return;
    }
    if (args.size() == 1) {
        std::string refusal;
        if (!store.setQxBootName(args[0], refusal)) {
            error("Invalid parameter");
            return;
        }
    }
    const std::string name = store.qxBootName();
    sayLine(name.empty() ? "No configuration file set." : "Current config: " + name);
}
