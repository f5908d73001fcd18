#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "main/Tarvo.h"
#include "tests/simsupport/DevSim.h"
#include "tests/support/TestSupport.h"

// A job object wired by hand for one simulated device: an installation root
// of its own whose transfer directory devsim serves, a router of model
// "M1", an empty software release the test fills, and the connection
// settings of the device. The firmware operations then run on a
// connection the test opens with the job's own connect, so each dialogue
// can be tested without a whole job.
class FirmwareFixture : public ::testing::Test {
protected:
    // family "nexa" or "qxcli"; options are added to devsim's.
    void startDevice(const std::string& family, const std::vector<std::string>& options = {});
    // The job for os ("NEXA", "qx.CLI"); debug keeps DBG lines.
    void makeJob(const std::string& os, bool debug = false);
    // The job's connection, logged in with the job's connect.
    std::unique_ptr<ConnectionHandler> connected(eConnectionType type);
    // Writes an image file into the model's image directory.
    void writeImage(const std::string& name, const std::string& bytes) const;
    std::string imagePath(const std::string& name) const;
    std::string log() const;
    // Lines of the device's transcript that it received, in order.
    std::vector<std::string> received() const;

    testsupport::TempDir root;
    testsim::DevSim device{root.file("device")};
    std::unique_ptr<Tarvo> job;
};
