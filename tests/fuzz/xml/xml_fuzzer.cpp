// Any bytes as a settings file: the parser either builds a tree or throws
// XMLParserException, and the settings reading on top of it (text search,
// job settings, transfer-URL parts) ends with a result, whatever the input.
#include <sys/stat.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "main/Tarvo.h"
#include "main/configHandler.h"
#include "util/logEngine.h"
#include "xml/XMLElement.h"
#include "xml/XMLElementException.h"
#include "xml/XMLElementIterator.h"
#include "xml/XMLParser.h"

namespace {

// A fresh installation root per input, gone again when the input is done:
// libFuzzer may leave without running static destructors.
class FuzzRoot {
public:
    explicit FuzzRoot(const std::string& settings) {
        char pattern[] = "/tmp/tarvo-xml-fuzz.XXXXXX";
        if (!mkdtemp(pattern)) abort();
        root = pattern;
        if (mkdir((root + "/etc").c_str(), 0700) != 0) abort();
        FILE* file = fopen(settingsFile().c_str(), "wb");
        if (!file) abort();
        if (!settings.empty() && fwrite(settings.data(), 1, settings.size(), file) != settings.size()) abort();
        fclose(file);
    }
    ~FuzzRoot() {
        unlink(settingsFile().c_str());
        rmdir((root + "/etc").c_str());
        rmdir(root.c_str());
    }
    FuzzRoot(const FuzzRoot&) = delete;
    FuzzRoot& operator=(const FuzzRoot&) = delete;
    std::string settingsFile() const { return root + "/etc/cordal.xml"; }

    std::string root;
};

void exerciseTree(XMLElement& top) {
    for (const char* path : {"", "config", "config.ipconnecttimeout.default", "a.b", ".", "config..x"}) {
        try {
            XMLElement* found = top.getChildp(path);
            if (found->getParent() == nullptr && found != &top) abort();
        } catch (const XMLElementException&) {
        }
        try {
            top.hasChildp(path);
        } catch (const XMLElementException&) {
        }
    }
    size_t visited = 0;
    for (XMLElementIterator it = top.begin(); it; ++it) {
        XMLElement* element = *it;
        if (element != &top && element->getParent() == nullptr) abort();  // every link set by the parser
        ++visited;
    }
    std::unique_ptr<XMLElement> twin(top.copy());
    if (twin->toString() != top.toString()) abort();
    if (visited == 0) abort();
}

void readSettings(const std::string& root, const std::string& model, const char* os) {
    Tarvo job(1, true, false, false, false, Paths(root));
    job.log.reset(new logEngine(true));
    job.routerOs = os;
    job.family = DeviceFamily(job.routerOs);
    for (const char* name : {"dbpass", "dbuser", "server", "dbname"}) job.getFromCfg(name);
    if (job.readXML(model)) {
        const std::string& m = job.fileTransferMethod;
        if (job.family.isQxCli() ? m != "SFTP" : (m != "TFTP" && m != "HTTP" && m != "HTTPS")) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    XMLParser parser;
    std::istringstream in(text);
    try {
        std::unique_ptr<XMLElement> top(parser.read(in, "input"));
        exerciseTree(*top);
    } catch (const XMLParserException&) {
    }

    FuzzRoot installation(text);
    // Models that the seed files override, one with a dot in its name.
    static const char* const models[] = {"M1", "NX-4200", "NX.4200"};
    readSettings(installation.root, models[size % 3], size % 2 ? "qx.CLI" : "NEXA");
    return 0;
}
