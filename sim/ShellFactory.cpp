#include "sim/ShellFactory.h"

#include "sim/DeviceState.h"
#include "sim/NexaShell.h"
#include "sim/QxCliShell.h"

std::unique_ptr<Shell> ShellFactory::make(DeviceState& state, const DevsimOptions& options, Transcript* transcript,
                                          Shell::Context context) {
    if (state.family() == SimFamily::QxCli)
        return std::make_unique<QxCliShell>(state, options, transcript, std::move(context));
    return std::make_unique<NexaShell>(state, options, transcript, std::move(context));
}
