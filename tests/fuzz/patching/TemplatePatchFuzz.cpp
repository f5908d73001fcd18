// libFuzzer target: template patching with names and values chosen by the
// fuzzer (router variables, password, net-mask, contact text) and any
// template. Whatever they hold, a placeholder is replaced by its value byte
// for byte, a net-mask placeholder becomes a prefix length or stays, no time
// placeholder survives, and hidden values stay out of the log.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/TemplatePatcher.h"
#include "db/Cordal_contacts.h"
#include "db/Cordal_router.h"
#include "util/Pcre.h"
#include "util/logEngine.h"

namespace {
// The log of patching one name alone, without its time stamps.
std::string logOfOneName(const std::string& name, const std::string& value, const TemplatePatcher::Sources& sources) {
    logEngine log;
    std::string buffer = "<[router." + name + "]><[{nm2pl}router." + name + "]>";
    TemplatePatcher(buffer, &log, sources).replaceWith("router." + name, value, false);
    std::vector<std::string> lines;
    log.fillVector(lines);
    std::string text;
    // An error line starts with an empty line of its own.
    for (auto line : lines) {
        line.erase(line.compare(0, 1, "\n") == 0 ? 1 : 0, 19);
        text += line + "\n";
    }
    return text;
}

bool isPrefixLength(const std::string& text) {
    if (text.empty() || text.size() > 2) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return std::stoi(text) <= 32;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Cordal_router router(nullptr);
    Cordal_contacts contacts(nullptr);
    router.name = input.ConsumeRandomLengthString(64);
    router.pass = input.ConsumeRandomLengthString(64);
    router.ipnetmask = input.ConsumeRandomLengthString(24);
    contacts.firma = input.ConsumeRandomLengthString(64);
    const int variables = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < variables; ++i) {
        std::string name = input.ConsumeRandomLengthString(24);
        router.variables[name] = input.ConsumeRandomLengthString(64);
        router.passwordFlags["pwd_" + name] = input.ConsumeBool() ? "yes" : "no";
    }
    const std::string text = input.ConsumeRemainingBytesAsString();

    TemplatePatcher::Sources sources;
    sources.jobId = 42;
    sources.router = &router;
    sources.contacts = &contacts;

    // The whole patching on the fuzzer's template. The router step ends
    // with the time offsets: none may be left then.
    logEngine log;
    std::string buffer = text;
    TemplatePatcher patcher(buffer, &log, sources);
    patcher.doRouterTable();
    pcrepp::Pcre time("(\\[([0-9]+):([0-9]+)\\+([0-9]+)\\])");
    if (time.search(buffer)) __builtin_trap();
    patcher.doSwreleaseTable();
    patcher.doAdditionalTable();
    patcher.doContactTable();
    patcher.doLicenseTable();

    // Each name alone: its placeholder becomes exactly its value.
    for (const auto& variable : router.variables) {
        logEngine quiet;
        std::string one = "<[router." + variable.first + "]>";
        TemplatePatcher(one, &quiet, sources).replaceWith("router." + variable.first, variable.second, false);
        if (one != "<" + variable.second + ">") __builtin_trap();
        // A "[" in the name could let the two placeholder forms overlap, and
        // one in the value could form a new placeholder; the checks below
        // would not hold for them.
        if (variable.first.find('[') != std::string::npos || variable.second.find('[') != std::string::npos) continue;
        std::string mask = "<[{nm2pl}router." + variable.first + "]>";
        const std::string before = mask;
        TemplatePatcher(mask, &quiet, sources).replaceWith("router." + variable.first, variable.second, false);
        if (mask != before && !isPrefixLength(mask.substr(1, mask.size() - 2))) __builtin_trap();
        // Hidden: the log depends on whether the value is a net-mask, never
        // on the value itself.
        logEngine probeLog;
        std::string probe = variable.second;
        const bool valid = TemplatePatcher(one, &probeLog, sources).convNetMsk2PfxLen(probe, false);
        std::string stand = valid ? "0.0.0.0" : "x";
        if (!valid && probeLog.dumpAsString().find("Bad net-mask") != std::string::npos) stand = "255.0.255.0";
        if (logOfOneName(variable.first, variable.second, sources) != logOfOneName(variable.first, stand, sources))
            __builtin_trap();
    }
    // The password is logged as "***" only (after "YYYY/MM/DD hh:mm:ss - INF - ").
    std::vector<std::string> lines;
    log.fillVector(lines);
    const std::string replaced = "Replaced \"[router.pass]\" with \"";
    for (const auto& line : lines)
        if (line.size() > 28 && line.compare(28, replaced.size(), replaced) == 0 &&
            line.substr(28) != replaced + "***\".")
            __builtin_trap();
    return 0;
}
