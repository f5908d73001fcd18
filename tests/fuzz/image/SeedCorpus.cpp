// Writes the seed corpus of the image fuzz target into the folder given:
// well-formed single images and packages the fuzzer mutates from.
#include <cstdio>
#include <string>

#include "tests/image/ImageBuilder.h"

using namespace imagebuilder;

namespace {
void put(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}
}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 1;
    }
    const std::string dir = argv[1];
    Part shortImage = systemPart("short image data", false);
    Part longImage = systemPart("long image data 10", true);
    longImage.header.name = "system";
    longImage.header.level = 0;
    longImage.header.level2 = 5;
    Part index = systemPart("");
    index.header.type = 1;
    Part twelve = systemPart(std::string(20, 'x'));
    twelve.header.type = 12;
    twelve.header.len = 8;
    twelve.header.len2 = 20;
    Part noIndex = systemPart(indexInfo(0xffffffffu));
    noIndex.header.type = 3;

    put(dir + "/single-short", singleImage(shortImage));
    put(dir + "/single-long", singleImage(longImage));
    put(dir + "/package-no-index", package(noIndex, {longImage, shortImage}));
    put(dir + "/package-index", indexedPackage(index, {longImage, twelve, shortImage}, 3));
    put(dir + "/package-index-255", indexedPackage(index, {shortImage, longImage}, 255));
    return 0;
}
