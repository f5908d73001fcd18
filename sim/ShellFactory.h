#pragma once
#include <memory>

#include "sim/Shell.h"

// ShellFactory makes the shell of the device's family.
class ShellFactory {
public:
    static std::unique_ptr<Shell> make(DeviceState& state, const DevsimOptions& options, Transcript* transcript,
                                       Shell::Context context);
};
