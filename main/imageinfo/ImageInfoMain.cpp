// tarvo-image-info FILE...: runs the firmware image inspection of the
// software releases on image files and tells, per file, the version text or
// why there is none, and the parts found with their checksum verdict.
// Exit code 0 when every file yields a version, 1 otherwise. It reads no
// database and no settings.

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <string>

#include "db/NexaImage.h"
#include "util/logEngine.h"

namespace {

const char* const kUsage =
    "Usage: tarvo-image-info [-v] FILE...\n"
    "  Inspects NEXA firmware images (single images and MPKG packages) and\n"
    "  prints the version text of each, or why there is none, and the parts\n"
    "  found with their CRC verdict. Exit code 0 when every file yields a\n"
    "  version, 1 otherwise.\n"
    "  -v  also print the inspection log, debug lines included\n";

std::string describeType(int type) {
    if (type == nexa_hdr1_t::IT_ZIMAGE) return "0 (system image)";
    if (type == nexa_hdr1_t::IT_MPKG_INDEX) return "1 (package index)";
    return std::to_string(type);
}

std::string describeCrc(const NexaImagePart& part) {
    char text[96];
    switch (part.crc) {
        case NexaImagePart::CrcGood:
            snprintf(text, sizeof text, "CRC 0x%08x ok", part.header.crc);
            break;
        case NexaImagePart::CrcBad:
            snprintf(text, sizeof text, "CRC 0x%08x bad (computed 0x%08x)", part.header.crc, part.computedCrc);
            break;
        default:
            snprintf(text, sizeof text, "CRC 0x%08x not checked", part.header.crc);
    }
    return text;
}

void printPart(const NexaImagePart& part) {
    const nexa_hdr1_t& h = part.header;
    std::string platform = h.platform;
    logEngine::cleanup(platform);
    printf("  part %d at offset %llu: type %s, platform '%s', header %d bytes, length %llu, %s", part.number,
           static_cast<unsigned long long>(part.offset), describeType(h.image_type).c_str(), platform.c_str(),
           part.headerLength, static_cast<unsigned long long>(part.dataLength), describeCrc(part).c_str());
    if (!part.version.empty()) printf(", version %s", part.version.c_str());
    printf("\n");
}

// Inspects one file; true when it yields a version.
bool inspectFile(const std::string& path, bool verbose) {
    logEngine log(verbose);
    log.setDirectPrint(verbose);
    NexaImage image(&log);
    printf("%s\n", path.c_str());
    image.setPartListener(printPart);
    std::string version;
    bool multiPart = false;
    bool found = image.readVersion(path, version, multiPart);
    if (found) {
        printf("  version: %s (%s)\n", version.c_str(), multiPart ? "package" : "single image");
    } else {
        std::string why = image.failure().empty() ? "no system image found" : image.failure();
        logEngine::cleanup(why);
        printf("  no version: %s\n", why.c_str());
    }
    fflush(stdout);
    return found;
}

}  // namespace

int main(int argc, char* argv[]) {
    bool verbose = false;
    int option;
    while ((option = getopt(argc, argv, "vh")) != -1) {
        if (option == 'v') {
            verbose = true;
        } else {
            fputs(kUsage, option == 'h' ? stdout : stderr);
            return 1;
        }
    }
    if (optind >= argc) {
        fputs(kUsage, stderr);
        return 1;
    }
    bool all = true;
    for (int i = optind; i < argc; ++i) all = inspectFile(argv[i], verbose) && all;
    return all ? 0 : 1;
}
