#include "db/NexaImage.h"

NexaImage::NexaImage(logEngine* logger) : log(logger) {}

// The header walk is not built yet: no version can be read, which callers
// already treat as "no version".
bool NexaImage::readVersion(const std::string&, std::string&, bool& multiPart) {
    multiPart = false;
    return false;
}
