#include "dispatch/DispatchSettings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>

#include "util/SettingsText.h"
#include "xml/XMLElement.h"
#include "xml/XMLParser.h"
#include "xml/XMLParserException.h"

// Debian's node exporter reads the text files of this folder.
const char* const DispatchSettings::kDefaultMetricsFile = "/var/lib/prometheus/node-exporter/tarvo-dispatch.prom";

namespace {

// The text of the element at path, or false when the file has none.
bool lookup(XMLElement& top, const std::string& path, std::string& value) {
    try {
        value = top.getChildp(path)->getContent();
        return true;
    } catch (const XMLParserException&) {
        return false;
    }
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A decimal number within [low, high]; anything else (trailing text, an
// empty element) is refused rather than read as 0, which would stop the
// dispatcher starting jobs without a word.
bool number(const std::string& text, double low, double high, double& value) {
    const std::string t = trimmed(text);
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = strtod(t.c_str(), &end);
    return errno == 0 && end && *end == '\0' && std::isfinite(value) && value >= low && value <= high;
}

}  // namespace

bool DispatchSettings::load(const std::string& settingsFile, std::string& error) {
    std::string text;
    if (!SettingsText::readFile(settingsFile, text)) {
        error = "cannot read the settings file '" + settingsFile + "'";
        return false;
    }
    DispatchSettings read;
    read.dbPass = SettingsText::find(text, "dbpass", nullptr);
    read.dbUser = SettingsText::find(text, "dbuser", nullptr);
    read.dbHost = SettingsText::find(text, "server", nullptr);
    read.dbName = SettingsText::find(text, "dbname", nullptr);
    if (read.dbPass == SettingsText::notFound) {
        error = "no database settings (dbpass) in '" + settingsFile + "'";
        return false;
    }

    XMLParser parser;
    std::unique_ptr<XMLElement> top;
    try {
        top.reset(parser.load(settingsFile));
    } catch (const XMLParserException&) {
        // The parser's message quotes the line, which may hold a password.
        error =
            "cannot parse the settings file '" + settingsFile + "' (line " + std::to_string(parser.lineNumber()) + ")";
        return false;
    }
    // The dispatcher's keys, all optional: a missing one keeps its default.
    struct KeyRow {
        const char* key;
        std::optional<std::string>* text;
    };
    std::optional<std::string> maxJobs, pollInterval, metricsFile, claimLease, jobDeadline;
    const KeyRow rows[] = {
        {"dispatch.maxJobs", &maxJobs},         {"dispatch.pollInterval", &pollInterval},
        {"dispatch.metricsFile", &metricsFile}, {"config.claimLease", &claimLease},
        {"config.jobdeadline", &jobDeadline},
    };
    for (const KeyRow& row : rows) {
        std::string value;
        if (lookup(*top, row.key, value)) *row.text = value;
    }
    double n = 0;
    if (maxJobs) {
        if (!number(*maxJobs, 1, 1024, n) || n != std::floor(n)) {
            error = "dispatch.maxJobs must be a whole number from 1 to 1024, not '" + *maxJobs + "'";
            return false;
        }
        read.maxJobs = static_cast<unsigned>(n);
    }
    if (pollInterval) {
        if (!number(*pollInterval, 0.1, 3600, n)) {
            error = "dispatch.pollInterval must be seconds from 0.1 to 3600, not '" + *pollInterval + "'";
            return false;
        }
        read.pollMilliseconds = static_cast<unsigned>(std::lround(n * 1000));
    }
    if (claimLease) {
        if (!number(*claimLease, 1, 999999999, n) || n != std::floor(n)) {
            error = "config.claimLease must be whole seconds from 1 to 999999999, not '" + *claimLease + "'";
            return false;
        }
        read.claimLeaseSeconds = static_cast<unsigned>(n);
    } else if (jobDeadline && number(*jobDeadline, 1, 999999999, n) && n == std::floor(n)) {
        // The job runner keeps its default for a deadline it cannot use;
        // so does the lease.
        read.claimLeaseSeconds = static_cast<unsigned>(n);
    }
    if (metricsFile) read.metricsFile = trimmed(*metricsFile);
    *this = read;
    return true;
}
