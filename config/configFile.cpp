#include "config/configFile.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "config/TemplatePatcher.h"
#include "db/Cordal_configs.h"
#include "db/Cordal_jobhistory.h"
#include "db/Cordal_router.h"
#include "db/Cordal_routertypes.h"
#include "db/Cordal_swrelease.h"
#include "db/Query.h"
#include "util/CommandText.h"
#include "util/ContainedPath.h"
#include "util/DeviceFamily.h"
#include "util/logEngine.h"

namespace {

// The text a configuration line is judged by: without its comment and
// without blanks, tabs and line ends at both ends.
std::string examined(const std::string& line) {
    std::string text = line.substr(0, line.find('#'));
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// A stored configuration is named by its jobtime in decimal; text that is
// not a decimal number names none.
bool parseJobtime(const std::string& text, unsigned long long& value) {
    if (text.empty() || text.size() > 20) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        unsigned long long next = value * 10 + static_cast<unsigned>(c - '0');
        if (next / 10 != value) return false;
        value = next;
    }
    return true;
}

std::string localTime(unsigned long long seconds) {
    time_t when = static_cast<time_t>(seconds);
    struct tm parts {};
    char text[64] = "";
    if (localtime_r(&when, &parts))
        snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                 parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

}  // namespace

configFile::configFile(logEngine* logger, unsigned long id, const std::string& nameSuffix, const std::string& transfer)
    : log(logger), jobId(id), suffix(nameSuffix), transferDir(transfer) {
    log->add(logEngine::INF, " ");
    log->add(logEngine::INF, "*** Importing downloaded or pre-generated config file.");
    fileName = nameFor(transferDir, jobId, suffix);
    if (!readBuffer(fileName)) {
        log->add(logEngine::ERR, "Could not open config-file -> Aborting");
        fileName.clear();
    }
}

configFile::configFile(logEngine* logger, unsigned long id, Cordal_router* forRouter, Cordal_routertypes* type,
                       bool readVersion, Cordal_swrelease* release, dbGroupRouteradditionals* additionalParameters,
                       dbGroupLicenses* routerLicenses, Cordal_contacts* routerContacts, const std::string& nameSuffix,
                       Database* db, const std::string& transfer, const std::string& templates)
    : log(logger),
      jobId(id),
      suffix(nameSuffix),
      router(forRouter),
      routerType(type),
      readNexaVersion(readVersion),
      swRelease(release),
      contacts(routerContacts),
      additionals(additionalParameters),
      licenses(routerLicenses),
      database(db),
      transferDir(transfer),
      templateDir(templates) {
    log->add(logEngine::INF, " ");
    log->add(logEngine::INF, "*** Generating config file from template and/or database.");
    fileName = nameFor(transferDir, jobId, suffix);
    log->add(logEngine::INF, "Config-type: " + router->configtype);

    std::string templateName, downloaded;
    bool ok = chooseSources(templateName, downloaded);
    const std::string mergeFile = fileName + "_tmp";
    bool merging = false;
    if (ok && !downloaded.empty()) {
        merging = !templateName.empty();
        ok = exportDownloaded(downloaded, merging ? mergeFile : fileName);
    }
    if (ok && !templateName.empty()) ok = processTemplate(templateName);
    if (merging) {
        if (ok) {
            log->add(logEngine::INF, "Merging processed template into downloaded config");
            if (!mergeCfgFiles(mergeFile)) {
                log->add(logEngine::INF, "Could not merge template into downloaded config");
                ok = false;
            }
        }
        remove(mergeFile.c_str());
    }
    if (!ok) fileName.clear();
}

std::string configFile::nameFor(const std::string& transfer, unsigned long id, const std::string& nameSuffix) {
    return transfer + std::to_string(id) + nameSuffix;
}

bool configFile::chooseSources(std::string& templateName, std::string& downloaded) {
    const std::string& type = router->configtype;
    const bool nexa = DeviceFamily(routerType ? routerType->os : "").isNexa();
    auto fail = [this](const std::string& message) {
        log->add(logEngine::ERR, message);
        return false;
    };
    templateField = "router.globalmaster";
    if (type == "Template") {
        templateName = router->globalmaster;
        if (templateName.empty()) return fail("No template specified");
    } else if (type == "Customer-Template") {
        log->add(logEngine::ERR, "Taking template from software-image: " + router->softwareimage);
        Cordal_swrelease release(log, false, transferDir, database,
                                 "SELECT * FROM cordal_swrelease WHERE (name='" +
                                     Query::safestr(router->softwareimage) + "') AND (routertype='" +
                                     Query::safestr(router->model) + "')");
        templateName = release.globalmaster;
        templateField = "swrelease.globalmaster";
        if (templateName.empty()) return fail("No template specified");
    } else if (type == "Client") {
        downloaded = router->downloadedmaster;
        if (downloaded.empty()) return fail("No downloaded config specified");
    } else if (type == "Merge-Template") {
        if (!nexa) return fail("No merge-support for non-NEXA-devices");
        templateName = router->globalmaster;
        if (templateName.empty()) return fail("No template specified");
        downloaded = router->downloadedmaster;
        if (downloaded.empty()) return fail("No downloaded config specified for merge");
    } else if (type == "Fetch-and-Merge") {
        if (!nexa) return fail("No merge-support for non-NEXA-devices");
        templateName = router->globalmaster;
        if (templateName.empty()) return fail("No template specified");
        // Only the newest automatic download is kept; should an older one
        // have survived, the newest still counts.
        Cordal_configs stored(database, 2147483647,
                              "SELECT * FROM cordal_configs WHERE (routerid=" + std::to_string(router->id) +
                                  " AND workmode='AutoFetch') ORDER BY jobtime DESC");
        if (stored.jobtime == 0) return fail("Could not find downloaded config for merge");
        downloaded = std::to_string(stored.jobtime);
    } else {
        return fail("Config-type not supported: " + type);
    }
    return true;
}

bool configFile::exportDownloaded(const std::string& downloaded, const std::string& target) {
    unsigned long long jobtime = 0;
    bool named = parseJobtime(downloaded, jobtime);
    log->add(logEngine::INF, "Downloaded config: " + (named ? localTime(jobtime) : downloaded));

    std::vector<std::string> lines;
    bool found = false;
    if (named) {
        const std::string condition =
            " WHERE (jobtime=" + std::to_string(jobtime) + " AND routerid=" + std::to_string(router->id) + ")";
        Cordal_configs stored(database, 2147483647, "SELECT * FROM cordal_configs" + condition);
        if (stored.jobtime == jobtime && stored.id != 0) {
            lines = stored.config;
            found = true;
        } else {
            Cordal_jobhistory history(database, "SELECT * FROM cordal_jobhistory" + condition);
            if (history.jobtime == jobtime && history.histid != 0) {
                lines = history.config;
                found = true;
            }
        }
    }
    if (!found) {
        log->add(logEngine::ERR, "Could not export downloaded config from database");
        return false;
    }
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    buffer = text;
    return writeFile(target, text);
}

bool configFile::templateInside(const std::string& templateName) {
    std::string why = ContainedPath::refusal(templateDir, router->model);
    if (!why.empty()) {
        refused = "router.model";
        refusalText = "Router column 'model' ('" + CommandText::shown(router->model) + "') is " + why +
                      "; the folder must lie in '" + templateDir + "'.";
        return false;
    }
    const std::string folder = templateDir + router->model + "/";
    why = ContainedPath::refusal(folder, templateName);
    if (why.empty()) return true;
    refused = templateField;
    refusalText = "The template name '" + CommandText::shown(templateName) + "' (" + templateField + ") is " + why +
                  "; the file must lie in '" + folder + "'.";
    return false;
}

bool configFile::processTemplate(const std::string& templateName) {
    log->add(logEngine::INF, "Template-config: " + templateName);
    if (!templateInside(templateName)) return false;
    const std::string path = templateDir + router->model + "/" + templateName;
    if (!readBuffer(path)) {
        log->add(logEngine::ERR, "Could not open template file -> Aborting");
        return false;
    }
    TemplatePatcher::Sources sources;
    sources.jobId = jobId;
    sources.router = router;
    sources.swRelease = swRelease;
    sources.readNexaVersion = readNexaVersion;
    sources.additionals = additionals;
    sources.contacts = contacts;
    sources.licenses = licenses;
    TemplatePatcher patcher(buffer, log, sources);
    patcher.doRouterTable();
    patcher.doSwreleaseTable();
    patcher.doAdditionalTable();
    patcher.doContactTable();
    patcher.doLicenseTable();
    if (!patcher.refusedField().empty()) {
        refused = patcher.refusedField();
        refusalText = patcher.refusal();
        return false;
    }
    return writeFile(fileName, buffer);
}

// Replaces the file; a configuration cut short by a full disk must not
// pass for a whole one, so every write and the close are checked.
bool configFile::writeFile(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wbe");
    if (!f) {
        log->add(logEngine::ERR, "Could not open output-config-file (" + path + ") -> Aborting");
        return false;
    }
    if (path == fileName) log->add(logEngine::INF, "Writing output config file: " + path);
    bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
    if (fclose(f) != 0) written = false;
    if (!written) log->add(logEngine::ERR, "Could not write output-config-file (" + path + ") -> Aborting");
    return written;
}

bool configFile::readBuffer(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rbe");
    if (!f) return false;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) buffer.append(chunk, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

void configFile::exportBuffer(std::vector<std::string>& list) const {
    list.push_back(buffer);
}

bool configFile::readLines(const std::string& path, Lines& lines) {
    lines.clear();
    FILE* f = fopen(path.c_str(), "rbe");
    bool ok = f != nullptr;
    if (ok) {
        std::string text;
        char chunk[65536];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
        ok = !ferror(f);
        fclose(f);
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(text.substr(start, nl + 1 - start));
        if (start < text.size()) lines.push_back(text.substr(start));
    }
    if (!ok) log->add(logEngine::ERR, "Could not read input-files");
    return ok;
}

bool configFile::getTables(const Lines& lines, Blocks& blocks, TableNames& names, bool keepAll) {
    blocks.clear();
    names.clear();
    if (keepAll) blocks.emplace_back();
    bool haveTable = false, rowOpen = false;
    std::string table;
    int number = 0;
    for (const auto& line : lines) {
        ++number;
        const std::string t = examined(line);
        if (t.empty()) {
            if (!keepAll) continue;
        } else if (t[0] == '{') {
            if (!haveTable) {
                log->addLine(logEngine::ERR, "No table-name for row-start in line %d", number);
                return false;
            }
            if (rowOpen) {
                log->add(logEngine::ERR,
                         "Double-started row in line " + std::to_string(number) + " for table " + table);
                return false;
            }
            rowOpen = true;
        } else if (t[0] == '}') {
            if (!rowOpen) {
                log->add(logEngine::ERR,
                         "Stopped non-started row in line " + std::to_string(number) + " for table " + table);
                return false;
            }
            rowOpen = false;
        } else if (!rowOpen) {
            haveTable = true;
            table = t;
            blocks.emplace_back();
            names[t] = blocks.size() - 1;
        }
        blocks.back().push_back(line);
    }
    return true;
}

bool configFile::mergeCfgFiles(const std::string& downloadedPath) {
    Lines downloadedLines, templateLines;
    if (!readLines(downloadedPath, downloadedLines) || !readLines(fileName, templateLines)) return false;
    Blocks merged, fromTemplate;
    TableNames mergedNames, templateNames;
    if (!getTables(downloadedLines, merged, mergedNames, true) ||
        !getTables(templateLines, fromTemplate, templateNames, false))
        return false;
    // TableNames is ordered by the names' bytes; the template's tables the
    // download lacks are not added.
    for (const auto& table : templateNames) {
        auto target = mergedNames.find(table.first);
        if (target != mergedNames.end()) merged[target->second] = fromTemplate[table.second];
    }
    // A block may have come from the end of a file without a last line end;
    // inside the result every line but the last one must end in one, or it
    // would run into the next.
    std::string text;
    for (const auto& block : merged)
        for (const auto& line : block) {
            if (!text.empty() && text.back() != '\n') text += "\n";
            text += line;
        }
    buffer = text;
    return writeFile(fileName, text);
}
