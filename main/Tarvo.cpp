#include "main/Tarvo.h"
#include "main/Workmode.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>

#include "config/configFile.h"
#include "db/Cordal_contacts.h"
#include "db/Cordal_customer.h"
#include "db/Cordal_jobs.h"
#include "db/Cordal_router.h"
#include "db/Cordal_routertypes.h"
#include "db/Cordal_swrelease.h"
#include "db/Database.h"
#include "db/dbGroupLicenses.h"
#include "db/dbGroupRouteradditionals.h"
#include "util/SSHConnection.h"
#include "util/connection.h"
#include "util/logEngine.h"

Tarvo::Tarvo(unsigned long id, bool debugOn, bool dump, bool logfile, bool print, const Paths& installation)
    : debug(debugOn),
      dumpLog(dump),
      writeLogfile(logfile),
      directPrint(print),
      mode(&Workmode::kUnknown),
      jobId(static_cast<uint32_t>(id)),
      paths(installation) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    startedAt = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

Tarvo::~Tarvo() = default;

void Tarvo::setError(const char* shortReason, const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    // A termination request outranks whatever failed because of it.
    if (noteTermination()) {
        if (log) log->add(logEngine::ERR, buffer);
        return;
    }
    reason = shortReason;
    errorMessage = buffer;
    if (log) log->add(logEngine::ERR, buffer);
}

void Tarvo::updateJob(const std::string& status) {
    if (job && job->id != 0) {
        job->status = status;
        job->save();
    }
    // Every step shows the other hosts that the job's process is alive.
    if (claim) claim->heartbeat();
    if (log) {
        log->add(logEngine::INF, "");
        log->addLine(logEngine::INF, "*** %s.", status.c_str());
    }
}

ConnectionHandler* Tarvo::createConnectionHandler(int type) {
    switch (type) {
        case SSH:
            log->add(logEngine::DBG, "Connection-type is SSH.");
            return new SSHConnection(log.get(), family, SSH);
        case SFTP:
            log->add(logEngine::DBG, "Connection-type is SFTP.");
            return new SSHConnection(log.get(), family, SFTP);
        case Telnet:
            log->add(logEngine::DBG, "Connection-type is Telnet.");
            return new connection(log.get(), family);
        default:
            if (log) log->addLine(logEngine::ERR, "Unknown connection-type (%d)!", type);
            return nullptr;
    }
}

void Tarvo::testPing() {
    noteTermination();
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
    std::unique_ptr<ConnectionHandler> handler(createConnectionHandler(connType));
    if (!handler) {
        setError("No connect-handler", "Could not create Connectionhandler.");
        return;
    }
    if (connect(*handler)) {
        sendPing(*handler);
        disconnect(*handler);
    }
}

std::string Tarvo::my_to_str(int value) {
    return std::to_string(value);
}
std::string Tarvo::my_to_str(unsigned long value) {
    return std::to_string(value);
}
std::string Tarvo::my_to_str(unsigned long long value) {
    return std::to_string(value);
}
