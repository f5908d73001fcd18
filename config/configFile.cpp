#include "config/configFile.h"

#include <cstdio>

#include "util/logEngine.h"

configFile::configFile(logEngine* logger, unsigned long id, const std::string& mode, const std::string& transfer)
    : log(logger), jobId(id), workmode(mode), transferDir(transfer) {
    log->add(logEngine::INF, " ");
    log->add(logEngine::INF, "*** Importing downloaded or pre-generated config file.");
    fileName = nameFor(transferDir, jobId, workmode);
    if (!readBuffer(fileName)) {
        log->add(logEngine::ERR, "Could not open config-file -> Aborting");
        fileName.clear();
    }
}

std::string configFile::nameFor(const std::string& transfer, unsigned long id, const std::string& mode) {
    return transfer + std::to_string(id) + (mode == "ConfComp" ? ".config_cmp" : ".config");
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
