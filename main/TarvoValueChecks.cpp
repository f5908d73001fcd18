// Database values that the job is about to put into device commands, or
// that name the files it is about to read, are looked at before the first
// stage: a value that would end its command line or its quoted argument
// early, pass for an option, or name a file outside its folder ends the job
// with "Bad TABLE.COLUMN" before any device is touched.
#include "db/Cordal_router.h"
#include "db/Cordal_swrelease.h"
#include "main/Tarvo.h"
#include "util/CommandText.h"
#include "util/ContainedPath.h"
#include "util/logEngine.h"

namespace {

// What a command does with a value, and so what the value must not hold.
enum Rule : unsigned {
    kOneLine = 1u << 0,        // no control character: it would end the command line
    kNoSingleQuote = 1u << 1,  // the command quotes it with single quotes
    kNoDoubleQuote = 1u << 2,  // the command quotes it with double quotes
    kOneWord = 1u << 3,        // unquoted: no blank and no quote, which would split or quote it
    kNoOption = 1u << 4,       // in an option's place: no leading "-"
    kFileName = 1u << 5,       // part of a transfer URL or an sftp path
};

// Characters an sftp command line or a transfer URL interprets ("%2e%2e"
// is ".." to the transfer server).
const char kFileNameSpecials[] = "'\"`\\*?[#%";

struct Problem {
    std::string what;         // "holds a line feed"
    std::string consequence;  // "which would ..."
};

bool findProblem(const std::string& value, unsigned rules, Problem& problem) {
    if (rules & kOneLine) {
        size_t at = CommandText::findControl(value);
        if (at != std::string::npos) {
            problem = {"holds " + CommandText::describe(static_cast<unsigned char>(value[at])),
                       "which would end the command line there and make the rest a command of its own"};
            return true;
        }
    }
    if ((rules & kNoSingleQuote) && value.find('\'') != std::string::npos) {
        problem = {"holds a single quote", "which would end its argument quoted with single quotes"};
        return true;
    }
    if ((rules & kNoDoubleQuote) && value.find('"') != std::string::npos) {
        problem = {"holds a double quote", "which would end its argument quoted with double quotes"};
        return true;
    }
    if ((rules & (kOneWord | kFileName)) && value.find_first_of(" \t") != std::string::npos) {
        problem = {"holds a blank", "which would split its argument in two"};
        return true;
    }
    if ((rules & kOneWord) && value.find_first_of("'\"") != std::string::npos) {
        problem = {"holds a quote", "which the device would read as quoting"};
        return true;
    }
    if ((rules & kFileName)) {
        size_t at = value.find_first_of(kFileNameSpecials);
        if (at != std::string::npos) {
            problem = {std::string("holds '") + value[at] + "'",
                       "which the transfer URL or the sftp command line would interpret"};
            return true;
        }
    }
    if ((rules & kNoOption) && !value.empty() && value[0] == '-') {
        problem = {"begins with '-'", "so the device would take it for an option"};
        return true;
    }
    return false;
}

}  // namespace

bool Tarvo::refuseValue(const ValueSource& source, const std::string& what) {
    const std::string shown = source.secret ? std::string() : " ('" + CommandText::shown(source.value) + "')";
    setError(("Bad " + source.label).c_str(), "%s%s %s. Nothing was sent to the device.", source.description.c_str(),
             shown.c_str(), what.c_str());
    return false;
}

bool Tarvo::checkValue(const ValueSource& source, unsigned rules) {
    Problem problem;
    if (!findProblem(source.value, rules, problem)) return true;
    return refuseValue(source, problem.what + ", " + problem.consequence);
}

bool Tarvo::checkFileName(const ValueSource& source, const std::string& dir, unsigned rules) {
    if (!checkValue(source, rules)) return false;
    const std::string why = ContainedPath::refusal(dir, source.value);
    if (why.empty()) return true;
    return refuseValue(source, "is " + why + "; the file must lie in '" + dir + "'");
}

Tarvo::ValueSource Tarvo::routerValue(const char* column, const std::string& value, bool secret) const {
    return {std::string("router.") + column, std::string("Router column '") + column + "'", value, secret};
}

bool Tarvo::checkValues(const ValueUses& uses) {
    // Passwords travel as lines of their own at the login.
    if (uses.login &&
        (!checkValue(routerValue("tmibadmadmincommunity", router->tmibadmadmincommunity, true), kOneLine) ||
         !checkValue(routerValue("oldcommunity", router->oldcommunity, true), kOneLine)))
        return false;
    if (uses.setPasswords && !checkNewPasswords()) return false;
    const bool nexa = !isQxCli();
    if (uses.certificates && nexa) {
        // cert get ... -PPASSPHRASE ... 'LABEL': the passphrase stands
        // unquoted, the label between single quotes.
        if (!checkValue(routerValue("tmibadmadmincommunity", router->tmibadmadmincommunity, true),
                        kOneLine | kOneWord) ||
            !checkValue(routerValue("name", router->name, false), kOneLine | kNoSingleQuote | kNoOption))
            return false;
    }
    if (uses.sourceAddress && nexa &&
        !checkValue(routerValue("localipfortftp", router->localipfortftp, false), kOneLine | kOneWord | kNoOption))
        return false;
    if (uses.ping) {
        for (const auto& value : {routerValue("ipgateway", router->ipgateway, false),
                                  routerValue("localipforping", router->localipforping, false)})
            if (!checkValue(value, kOneLine | kOneWord | kNoOption)) return false;
    }
    if (uses.images && !checkImageNames()) return false;
    if (uses.templateName && !checkTemplateName()) return false;
    return true;
}

// The new passwords travel between double quotes, each on a command line of
// its own; the communities only to NEXA devices, and only when set.
bool Tarvo::checkNewPasswords() {
    if (router->tmibadmadmincommunity.empty()) return true;  // nothing is sent at all
    const unsigned rules = kOneLine | kNoDoubleQuote;
    if (!checkValue(routerValue("tmibadmadmincommunity", router->tmibadmadmincommunity, true), rules)) return false;
    if (isQxCli()) return true;
    return checkValue(routerValue("tmibadmreadcommunity", router->tmibadmreadcommunity, true), rules) &&
           checkValue(routerValue("tmibadmwritecommunity", router->tmibadmwritecommunity, true), rules);
}

// Images lie in the model's folder of the transfer directory; their names
// are also part of the NEXA transfer URL and of the qx.CLI sftp command.
bool Tarvo::checkImageNames() {
    const std::string images = paths.transferDir() + "images/";
    if (!checkFileName(routerValue("model", router->model, false), images, kOneLine | kFileName)) return false;
    const std::string folder = images + router->model + "/";
    for (const ImgRow& row : isQxCli() ? imageRowsQxCli() : imageRowsNexa()) {
        const ValueSource source{std::string("swrelease.") + row.column,
                                 std::string("Release column '") + row.column + "'", row.file, false};
        if (!checkFileName(source, folder, kOneLine | kFileName)) return false;
    }
    return true;
}

// The template the build reads: the router's own, or the release's for a
// "Customer-Template" router; the build itself looks again at the one it
// opens.
bool Tarvo::checkTemplateName() {
    const std::string& type = router->configtype;
    const bool customer = type == "Customer-Template";
    if (!customer && type != "Template" && type != "Merge-Template" && type != "Fetch-and-Merge") return true;
    if (!checkFileName(routerValue("model", router->model, false), paths.templateDir(), kOneLine)) return false;
    const std::string folder = paths.templateDir() + router->model + "/";
    if (!customer) return checkFileName(routerValue("globalmaster", router->globalmaster, false), folder, 0);
    if (!swRelease || swRelease->id == 0) return true;
    return checkFileName({"swrelease.globalmaster", "Release column 'globalmaster'", swRelease->globalmaster, false},
                         folder, 0);
}
