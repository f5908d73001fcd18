// Inventory: the device's serial number, part number and software version
// into the router row. A NEXA device is asked for one management variable
// per fact; a qx.CLI device reports all three in its version report.
#include "db/Cordal_router.h"
#include "main/Tarvo.h"
#include "util/Pcre.h"
#include "util/logEngine.h"

namespace {
// A NEXA device answers a variable's name with NAME.0("VALUE"); the value
// is the first quoted text of the reply.
const char* const kQuotedValue = "\"([^\"]*)\"";

// Stores what pattern fetches from reply. False when it fetches nothing:
// the word fetch answers then ("INVALID") is no fact to store over the one
// the router row holds.
bool storeFetched(const commandResult& reply, const std::string& pattern, std::string& value) {
    std::string found = reply.fetch(pattern);
    if (found == "INVALID") return false;
    value = found;
    return true;
}

// Sends one variable name and stores its quoted value. False when the
// prompt is missing, the reply lacks mustContain or shows no value; the
// caller reports that.
bool readVariable(ConnectionHandler& link, const std::string& name, const std::string& prompt,
                  const std::string& mustContain, std::string& value) {
    commandResult reply = link.sendCmd(name, prompt);
    return reply.foundFirst && reply.contains(mustContain) && storeFetched(reply, kQuotedValue, value);
}

// One fact of the qx.CLI version report: present when marker is followed
// by a value.
bool readReport(const commandResult& report, const std::string& marker, const std::string& pattern,
                std::string& value) {
    return report.contains(marker) && storeFetched(report, pattern, value);
}
}  // namespace

void Tarvo::inventory(ConnectionHandler& link) {
    updateJob("Preparing inventory");
    commandResult report;
    if (!(isQxCli() ? inventoryPrepQxCli(link, report) : inventoryPrepNexa(link))) return;

    struct Fact {
        const char* title;
        const char* name;  // in the log line and the reason
        bool (Tarvo::*nexa)(ConnectionHandler&);
        bool (Tarvo::*qxCli)(const commandResult&);
        std::string Cordal_router::*column;
    };
    static const Fact kFacts[] = {
        {"Getting serial", "serial-number", &Tarvo::inventorySerialNexa, &Tarvo::inventorySerialQxCli,
         &Cordal_router::seriennr},
        {"Getting part-number", "part-number", &Tarvo::inventoryPartNoNexa, &Tarvo::inventoryPartNoQxCli,
         &Cordal_router::partno},
        {"Getting SW-version", "sw-version", &Tarvo::inventorySwVerNexa, &Tarvo::inventorySwVerQxCli,
         &Cordal_router::swversion},
    };
    // Each fact is saved before the next is asked for, and a missing one
    // does not stop the others. Only the exact "NEXA" family has readers
    // besides qx.CLI.
    for (const Fact& fact : kFacts) {
        updateJob(fact.title);
        bool found = isQxCli() ? (this->*fact.qxCli)(report) : family.isNexa() && (this->*fact.nexa)(link);
        if (!found) {
            std::string shortReason = std::string("No ") + fact.name;
            setError(shortReason.c_str(), "No %s reported by router.", fact.name);
            continue;
        }
        log->addLine(logEngine::INF, "Writing found %s '%s' to database.", fact.name, ((*router).*fact.column).c_str());
        router->save();
    }
}

bool Tarvo::inventoryPrepNexa(ConnectionHandler& link) {
    return step(link, "y", family.promptMain);
}

bool Tarvo::inventoryPrepQxCli(ConnectionHandler& link, commandResult& report) {
    return step(link, "\x10monitor", family.promptPlus) && step(link, "version", family.promptPlus, &report);
}

bool Tarvo::inventorySerialNexa(ConnectionHandler& link) {
    return readVariable(link, "tmibAdmSystemId", family.promptMain, "tmibAdmSystemId", router->seriennr);
}

bool Tarvo::inventoryPartNoNexa(ConnectionHandler& link) {
    // The part number is a column of the board table, and the device names
    // the table in its answer.
    return readVariable(link, "tmibABrdPartNo", family.promptMain, "tmibAdmBoardTable", router->partno);
}

bool Tarvo::inventorySwVerNexa(ConnectionHandler& link) {
    std::string text;
    if (!readVariable(link, "tmibAdmSWVersion", family.promptAdmin, "tmibAdmSWVersion", text)) return false;
    std::string version = getSwVersionFromMib(text);
    if (version.empty()) return false;
    router->swversion = version;
    return true;
}

bool Tarvo::inventorySerialQxCli(const commandResult& report) {
    return readReport(report, " S/N: ", "[\\s]+S/N:[\\s]+([\\S]+)", router->seriennr);
}

bool Tarvo::inventoryPartNoQxCli(const commandResult& report) {
    return readReport(report, " Router, ", "[\\s]+Router,[\\s]+([\\S]+)", router->partno);
}

bool Tarvo::inventorySwVerQxCli(const commandResult& report) {
    return readReport(report, "\nSoftware release: ", "[\\s]+Software\\srelease:[\\s]+([\\S]+)", router->swversion);
}

std::string Tarvo::getSwVersionFromMib(const std::string& text) {
    pcrepp::Pcre fourNumbers("V\\.(\\d+)\\.(\\d+)\\.(\\d+)\\.(\\d+)", "x");
    if (fourNumbers.search(text))
        return fourNumbers.group(1) + "." + fourNumbers.group(2) + "." + fourNumbers.group(3) + "." +
               fourNumbers.group(4);
    // "V.7.10 Rev. 3 (Patch 12)": major, minor, revision and an optional
    // patch level behind one more character.
    pcrepp::Pcre revision("V\\.(\\d+)\\.(\\d+)\\s+\\w+\\.\\s+(\\d+)\\s+.(\\w+\\s+\\d+)?", "x");
    if (!revision.search(text)) return "";
    std::string version = revision.group(1) + "." + revision.group(2) + "." + revision.group(3);
    if (revision.start(4) != pcrepp::Pcre::npos) version += " " + revision.group(4);
    return version;
}
