#include "config/TemplatePatcher.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstdio>

#include "db/Cordal_contacts.h"
#include "db/Cordal_router.h"
#include "db/Cordal_swrelease.h"
#include "db/dbGroupLicenses.h"
#include "db/dbGroupRouteradditionals.h"
#include "util/CommandText.h"
#include "util/Pcre.h"
#include "util/logEngine.h"

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

size_t findIgnoringCase(const std::string& text, const std::string& needle, size_t from) {
    if (needle.empty() || needle.size() > text.size()) return std::string::npos;
    const char first = lowerAscii(needle[0]);
    for (size_t at = from; at + needle.size() <= text.size(); ++at) {
        if (lowerAscii(text[at]) != first) continue;
        size_t i = 1;
        while (i < needle.size() && lowerAscii(text[at + i]) == lowerAscii(needle[i])) ++i;
        if (i == needle.size()) return at;
    }
    return std::string::npos;
}

// The remainder of a decimal digit string divided by modulus; the digits
// may be far too many for any integer type.
unsigned digitsModulo(const std::string& digits, unsigned modulus) {
    unsigned rest = 0;
    for (char c : digits) rest = (rest * 10 + static_cast<unsigned>(c - '0')) % modulus;
    return rest;
}

struct RouterField {
    const char* name;
    std::string Cordal_router::*member;
    bool show;
};

// The router columns a template may name, in the order they are patched.
const RouterField kRouterFields[] = {
    {"router.name", &Cordal_router::name, true},
    {"router.vendor", &Cordal_router::vendor, true},
    {"router.model", &Cordal_router::model, true},
    {"router.user", &Cordal_router::user, true},
    {"router.pass", &Cordal_router::pass, false},
    {"router.isdnlkz", &Cordal_router::isdnlkz, true},
    {"router.isdntrunk", &Cordal_router::isdntrunk, true},
    {"router.isdnprefix", &Cordal_router::isdnprefix, true},
    {"router.isdncallprefix", &Cordal_router::isdncallprefix, true},
    {"router.isdnnumber", &Cordal_router::isdnnumber, true},
    {"router.isdnextension", &Cordal_router::isdnextension, true},
    {"router.isdnnumber2", &Cordal_router::isdnnumber2, true},
    {"router.msnisdnlogin", &Cordal_router::msnisdnlogin, true},
    {"router.msnisdnloginext", &Cordal_router::msnisdnloginext, true},
    {"router.datexpnumber", &Cordal_router::datexpnumber, true},
    {"router.ipnet", &Cordal_router::ipnet, true},
    {"router.ipnumber", &Cordal_router::ipnumber, true},
    {"router.ipnetmask", &Cordal_router::ipnetmask, true},
    {"router.ipgateway", &Cordal_router::ipgateway, true},
    {"router.ipdomain", &Cordal_router::ipdomain, true},
    {"router.ipsec", &Cordal_router::ipsec, false},
    {"router.tmibadmadmincommunity", &Cordal_router::tmibadmadmincommunity, false},
    {"router.oldcommunity", &Cordal_router::oldcommunity, false},
    {"router.tmibadmreadcommunity", &Cordal_router::tmibadmreadcommunity, false},
    {"router.tmibadmwritecommunity", &Cordal_router::tmibadmwritecommunity, false},
    {"router.tmibadmhttppassword", &Cordal_router::tmibadmhttppassword, false},
    {"router.tmibdialnumberisdn", &Cordal_router::tmibdialnumberisdn, true},
    {"router.matchcode", &Cordal_router::matchcode, true},
    {"router.seriennr", &Cordal_router::seriennr, true},
    {"router.macadress", &Cordal_router::macadress, true},
    {"router.partno", &Cordal_router::partno, true},
    {"router.ipfallbacknumber", &Cordal_router::ipfallbacknumber, true},
    {"router.localipfortftp", &Cordal_router::localipfortftp, true},
    {"router.localipforping", &Cordal_router::localipforping, true},
    {"router.loopback", &Cordal_router::loopback, true},
};

struct ReleaseField {
    const char* name;
    std::string Cordal_swrelease::*member;
};

const ReleaseField kReleaseFields[] = {
    {"swrelease.name", &Cordal_swrelease::name},         {"swrelease.routertype", &Cordal_swrelease::routertype},
    {"swrelease.logic", &Cordal_swrelease::logic},       {"swrelease.bootmonitor", &Cordal_swrelease::bootmonitor},
    {"swrelease.nexa", &Cordal_swrelease::nexa},         {"swrelease.globalmaster", &Cordal_swrelease::globalmaster},
    {"swrelease.dsllogic", &Cordal_swrelease::dsllogic}, {"swrelease.module2", &Cordal_swrelease::module2},
    {"swrelease.module3", &Cordal_swrelease::module3},   {"swrelease.module4", &Cordal_swrelease::module4},
};

struct ContactField {
    const char* name;
    std::string Cordal_contacts::*member;
};

const ContactField kContactFields[] = {
    {"contacts.anrede", &Cordal_contacts::anrede},
    {"contacts.vorname", &Cordal_contacts::vorname},
    {"contacts.nachname", &Cordal_contacts::nachname},
    {"contacts.firma", &Cordal_contacts::firma},
    {"contacts.gebdat", &Cordal_contacts::gebdat},
    {"contacts.email", &Cordal_contacts::email},
    {"contacts.phone1", &Cordal_contacts::phone1},
    {"contacts.phone2", &Cordal_contacts::phone2},
    {"contacts.fax", &Cordal_contacts::fax},
    {"contacts.strasse", &Cordal_contacts::strasse},
    {"contacts.ort", &Cordal_contacts::ort},
    {"contacts.plz", &Cordal_contacts::plz},
    {"contacts.bemerkung", &Cordal_contacts::bemerkung},
};

}  // namespace

TemplatePatcher::TemplatePatcher(std::string& text, logEngine* logger, const Sources& from)
    : buffer(text), log(logger), sources(from) {}

size_t TemplatePatcher::replaceIgnoringCase(std::string& text, const std::string& needle, const std::string& with) {
    size_t count = 0;
    size_t at = findIgnoringCase(text, needle, 0);
    if (at == std::string::npos) return 0;
    std::string out;
    size_t copied = 0;
    while (at != std::string::npos) {
        out.append(text, copied, at - copied);
        out += with;
        copied = at + needle.size();
        ++count;
        at = findIgnoringCase(text, needle, copied);
    }
    out.append(text, copied, std::string::npos);
    text.swap(out);
    return count;
}

// A name and a value from the database are data, never pattern syntax: the
// placeholder is found as literal text and the value inserted byte for
// byte, so a password holding "$1" or "\" reaches the device unchanged.
void TemplatePatcher::replaceWith(const std::string& name, const std::string& value, bool show) {
    replace(name, value, show, false);
}

bool TemplatePatcher::insertable(const std::string& name, const std::string& value, bool show) {
    const size_t at = CommandText::findControlButTab(value);
    if (at == std::string::npos) return true;
    if (refused.empty()) {
        refused = name;
        refusalText = "The value of [" + name + "]" +
                      (show ? " ('" + CommandText::shown(value) + "')" : std::string()) + " holds " +
                      CommandText::describe(static_cast<unsigned char>(value[at])) +
                      ", which would add lines of its own to the configuration; it was not inserted.";
    }
    return false;
}

void TemplatePatcher::replace(const std::string& name, const std::string& value, bool show, bool linesAllowed) {
    const std::string placeholder = "[" + name + "]";
    if (!linesAllowed && findIgnoringCase(buffer, placeholder, 0) != std::string::npos &&
        !insertable(name, value, show))
        return;
    if (replaceIgnoringCase(buffer, placeholder, value) > 0)
        log->add(logEngine::INF, "Replaced \"[" + name + "]\" with \"" + (show ? value : "***") + "\".");

    const std::string maskPlaceholder = "[{nm2pl}" + name + "]";
    if (findIgnoringCase(buffer, maskPlaceholder, 0) == std::string::npos) return;
    // The caller's value stays what it was: the prefix length is ours.
    std::string prefix = value;
    if (!convNetMsk2PfxLen(prefix, show)) {
        log->add(logEngine::ERR, "Cannot convert \"[{nm2pl}" + name + "]\" from net-mask to prefix-length.");
        return;
    }
    replaceIgnoringCase(buffer, maskPlaceholder, prefix);
    log->add(logEngine::INF, "Replaced \"[{nm2pl}" + name + "]\" with \"" + (show ? prefix : "***") + "\".");
}

bool TemplatePatcher::convNetMsk2PfxLen(std::string& value, bool show) {
    const std::string shown = show ? value : "***";
    in_addr address{};
    if (value.find('\0') != std::string::npos || inet_pton(AF_INET, value.c_str(), &address) != 1) {
        log->add(logEngine::ERR, "Cannot convert variable \"" + shown + "\": Not a net-mask.");
        return false;
    }
    // In 32 bits exactly: a mask is ones from the top, then zeros, which
    // holds when no bit is set both in the complement and in the lowest
    // set bit and above (0.0.0.0 and 255.255.255.255 included).
    const uint32_t mask = ntohl(address.s_addr);
    if ((~mask & (0u - mask)) != 0) {
        log->add(logEngine::ERR, "Cannot convert variable \"" + shown + "\": Bad net-mask.");
        return false;
    }
    value = std::to_string(__builtin_popcount(mask));
    return true;
}

void TemplatePatcher::add_minutes_to_time() {
    pcrepp::Pcre placeholder("(\\[([0-9]+):([0-9]+)\\+([0-9]+)\\])");
    size_t from = 0;
    while (placeholder.search(buffer, from)) {
        const std::string whole = placeholder.group(1);
        const std::string hours = placeholder.group(2), minutes = placeholder.group(3), offset = placeholder.group(4);
        const size_t start = placeholder.start(1);
        log->add(logEngine::INF, "Add offset of " + offset + " to hour: " + hours + " minute: " + minutes + " ");
        // Only the time of day counts, so the digits are reduced first and
        // any number of them is fine.
        const unsigned total = (digitsModulo(minutes, 1440) + digitsModulo(offset, 1440)) % 1440;
        const unsigned newHours = (digitsModulo(hours, 24) + total / 60) % 24;
        char time[8];
        snprintf(time, sizeof time, "%02u:%02u", newHours, total % 60);
        log->add(logEngine::INF, "Replaced \"" + whole + "\" with \"" + time + "\".");
        buffer.replace(start, whole.size(), time);
        // Text before the replaced placeholder held no match; a new one can
        // only begin at a "[" followed by digits right before the new time.
        from = start;
        while (from > 0 && buffer[from - 1] >= '0' && buffer[from - 1] <= '9') --from;
        from = (from > 0 && buffer[from - 1] == '[') ? from - 1 : start;
    }
}

void TemplatePatcher::doRouterTable() {
    log->add(logEngine::INF, "Patching fields from router table.");
    Cordal_router* router = sources.router;
    if (router)
        for (const auto& field : kRouterFields) replaceWith(field.name, router->*field.member, field.show);
    replaceWith("opsbase.jobid", std::to_string(sources.jobId), true);
    if (router) {
        // std::map keeps the variables in ascending name order.
        for (const auto& variable : router->variables) {
            auto flag = router->passwordFlags.find("pwd_" + variable.first);
            bool hidden = flag != router->passwordFlags.end() && flag->second == "yes";
            replaceWith("router." + variable.first, variable.second, !hidden);
        }
    }
    add_minutes_to_time();
}

void TemplatePatcher::doSwreleaseTable() {
    Cordal_swrelease* release = sources.swRelease;
    if (!release || release->id == 0) {
        log->add(logEngine::INF, "No swrelease -> Skip related fields-patching");
        return;
    }
    log->add(logEngine::INF, "Patching fields from swrelease table.");
    for (const auto& field : kReleaseFields) replaceWith(field.name, release->*field.member, true);
    if (sources.readNexaVersion) replaceWith("swrelease.nexaversion", release->nexaVersion, true);
}

void TemplatePatcher::doAdditionalTable() {
    log->add(logEngine::INF, "Patching fields from additional table.");
    dbGroupRouteradditionals* additionals = sources.additionals;
    if (!additionals) return;
    for (unsigned long i = 0; i < additionals->getNumParams(); ++i)
        replaceWith("additional." + additionals->getTagAt(i), additionals->getValueAt(i),
                    additionals->getPasswordAt(i) != "yes");
}

void TemplatePatcher::doContactTable() {
    log->add(logEngine::INF, "Patching fields from contact table.");
    Cordal_contacts* contacts = sources.contacts;
    for (const auto& field : kContactFields) replaceWith(field.name, contacts ? contacts->*field.member : "", true);
}

std::string TemplatePatcher::licenseRow(const std::string& serial, const std::string& key) {
    return "{\n   tmibAdmLicenseSerialId   (RW,DisplayStr):  \"" + serial +
           "\"\n   tmibAdmLicenseKey        (RW,DisplayStr):  \"" + key + "\"\n}";
}

void TemplatePatcher::doLicenseTable() {
    log->add(logEngine::INF, "Patching special field [router.licenses].");
    std::string rows;
    dbGroupLicenses* licenses = sources.licenses;
    const bool used = findIgnoringCase(buffer, "[router.licenses]", 0) != std::string::npos;
    if (licenses)
        for (unsigned long i = 0; i < licenses->getNumParams(); ++i) {
            if (used && (!insertable("router.licenses", licenses->getSerialAt(i), true) ||
                         !insertable("router.licenses", licenses->getKeyAt(i), true)))
                return;
            rows += licenseRow(licenses->getSerialAt(i), licenses->getKeyAt(i));
        }
    replace("router.licenses", rows, true, true);
}

void TemplatePatcher::patchAll() {
    doRouterTable();
    doSwreleaseTable();
    doAdditionalTable();
    doContactTable();
    doLicenseTable();
}
