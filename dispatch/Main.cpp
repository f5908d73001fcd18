#include <unistd.h>

#include <climits>
#include <string>

#include "dispatch/DispatchMain.h"

#ifndef TARVO_ROOT
#error "TARVO_ROOT must be defined by the build"
#endif

// The dispatcher starts the Tarvo program installed beside it.
int main(int argc, char* argv[]) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = ".";
    if (n > 0) {
        std::string path(self, static_cast<size_t>(n));
        size_t slash = path.rfind('/');
        if (slash != std::string::npos) dir = path.substr(0, slash);
    }
    return dispatchMain(argc, argv, Paths(TARVO_ROOT), {dir + "/Tarvo"});
}
