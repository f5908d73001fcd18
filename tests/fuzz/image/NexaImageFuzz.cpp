// libFuzzer target: the fuzz input is the whole image file. The inspection
// must end every input with a verdict, inside its bounds and without large
// allocations, whatever the headers claim.
#include <sys/mman.h>
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <string>

#include "db/NexaImage.h"
#include "util/logEngine.h"

namespace {
// One in-memory file for the whole run; the inspection opens it by path.
int imageFile() {
    static int fd = memfd_create("image", MFD_CLOEXEC);
    return fd;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = imageFile();
    if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return 0;
        done += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    logEngine log(true);  // debug lines too, so every message is formatted
    NexaImage image(&log);
    // A part is reported only when its whole header was in the file.
    image.setPartListener([&](const NexaImagePart& part) {
        if (part.offset + part.headerLength > size) __builtin_trap();
    });
    std::string version;
    bool multiPart = false;
    bool found = image.readVersion(path, version, multiPart);
    // A verdict always comes with a log line, and a version only with a yes.
    if (log.getLines() == 0 || found == version.empty()) __builtin_trap();
    return 0;
}
