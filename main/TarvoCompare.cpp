// The drift check: the configuration the device holds against the one the
// database would generate now.
#include "config/UniDiff.h"
#include "config/configFile.h"
#include "main/Tarvo.h"
#include "util/logEngine.h"

bool Tarvo::stageCompare(ConnectionHandler&) {
    // The rebuilt configuration is the downloaded one's name with "_cmp".
    const std::string rebuilt = cfgFile->getFileName();
    const std::string downloaded = rebuilt.substr(0, rebuilt.size() - 4);
    UniDiff comparison(log.get(), router.get(), routerOs, downloaded, rebuilt);
    updateJob("Comparing built/fetched config");
    if (!comparison.comparefiles()) setError("Cfg-files differ", "Stored config-file differs from re-built one.");
    comparison.unlink();
    return reason.empty();
}
