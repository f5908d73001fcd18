#pragma once
#include <memory>
#include <string>

#include "main/Tarvo.h"
#include "tests/simsupport/DevSim.h"

// A job object without a database for driving one device operation at a
// time against a devsim: a debug log, the family of os with its prompts,
// connection settings with short time-outs for the device's ports and the
// device's login admin/admin. The installation root is root; readSettings
// writes a settings file there and reads it the way start-up does.
namespace devicetest {

// debug false keeps DBG lines out of the log, as a job without -d does.
std::unique_ptr<Tarvo> bareJob(const std::string& root, const std::string& os, const testsim::DevSim& device,
                               bool debug = true);

// Writes ROOT/etc/cordal.xml with every required key and the two fallback
// timers, and has the job read it for model "NX-1". False when the job
// rejected the file.
bool readSettings(Tarvo& job, const std::string& root, const std::string& configTimeout,
                  const std::string& imageTimeout);

// A new connection of the given type (Telnet, SSH, SFTP) for the job.
std::unique_ptr<ConnectionHandler> linkFor(Tarvo& job, eConnectionType type);

// The job's whole log with the engine's line wrapping undone.
std::string logOf(const Tarvo& job);

// How many lines the device received ("<<<" entries of its transcript).
size_t receivedLines(const testsim::DevSim& device);

}  // namespace devicetest
