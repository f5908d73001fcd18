// devsim: a stand-in router of the NEXA or qx.CLI family for tests, demos
// and trying jobs without hardware. See devsim --help.
#include <libssh/libssh.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/DeviceServer.h"
#include "sim/DevsimOptions.h"

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    DevsimOptions options;
    std::string error;
    if (!DevsimOptions::parse(args, options, error)) {
        fprintf(stderr, "devsim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::string usage = DevsimOptions::usage();
        fwrite(usage.data(), 1, usage.size(), stdout);
        return 0;
    }
    ssh_init();
    int status;
    {
        DeviceServer server(std::move(options));
        status = server.run();
    }
    ssh_finalize();
    return status;
}
