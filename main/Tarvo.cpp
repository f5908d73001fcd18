#include "main/Tarvo.h"

#include <cstdarg>
#include <cstdio>

#include "util/logEngine.h"

Tarvo::Tarvo(unsigned long id, bool debugOn, bool dump, bool logfile, bool print, const Paths& installation)
    : debug(debugOn),
      dumpLog(dump),
      writeLogfile(logfile),
      directPrint(print),
      jobId(static_cast<uint32_t>(id)),
      paths(installation) {}

Tarvo::~Tarvo() {
    delete log;
    delete connectSettings;
    delete loginSettings;
}

void Tarvo::setError(const char* shortReason, const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    reason = shortReason;
    if (log) log->add(logEngine::ERR, buffer);
}

void Tarvo::updateJob(const std::string& status) {
    if (log) {
        log->add(logEngine::INF, "");
        log->addLine(logEngine::INF, "*** %s.", status.c_str());
    }
}

ConnectionHandler* Tarvo::createConnectionHandler(int type) {
    switch (type) {
        default:
            if (log) log->addLine(logEngine::ERR, "Unknown connection-type (%d)!", type);
            return nullptr;
    }
}

void Tarvo::Init() {
    std::string logName = writeLogfile ? paths.transferDir() + my_to_str(static_cast<unsigned long>(jobId)) + ".log"
                                       : std::string("nofile");
    log = new logEngine(debug, logName);
    log->setDirectPrint(directPrint);
    log->addLine(logEngine::CTL, "Tarvo Version %s.%s.%s starting.", "4", "1", "1");
    log->add(logEngine::INF, "");
    log->add(logEngine::INF, "*** Starting basic job and database initialization.");
    if (writeLogfile) log->addLine(logEngine::INF, "Writing to logfile '%s'.", logName.c_str());
    // The settings file is not read yet: no job can be loaded.
    setError("No DB-settings", "Could not get database-settings from config.");
}

void Tarvo::Run() {
    if (!reason.empty()) return;
}

void Tarvo::testPing() {
    if (!needsTestPing) {
        log->add(logEngine::INF, "");
        log->add(logEngine::INF, "Testping not required in this workmode.");
        return;
    }
    if (!reason.empty()) {
        log->add(logEngine::INF, "");
        log->add(logEngine::INF, "Testping skipped because job already failed.");
        return;
    }
    ConnectionHandler* handler = createConnectionHandler(connType);
    if (!handler) {
        setError("No connect-handler", "Could not create Connectionhandler.");
        return;
    }
    delete handler;
}

bool Tarvo::Finish() {
    log->add(logEngine::INF, "");
    log->add(logEngine::CTL, "Tarvo finished.");
    if (dumpLog) log->dumpLogStderr();
    return reason.empty();
}

std::string Tarvo::my_to_str(int value) { return std::to_string(value); }
std::string Tarvo::my_to_str(unsigned long value) { return std::to_string(value); }
std::string Tarvo::my_to_str(unsigned long long value) { return std::to_string(value); }
