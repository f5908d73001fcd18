#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/SimRouter.h"

// Tests of whole jobs, one at a time: the test's own database and root,
// and what the job run last left (its exit, its output, its log).
class JobTest : public ::testing::Test {
protected:
    // Runs job 42 for a router row and returns its history row.
    std::map<std::string, std::string> runJob(const std::map<std::string, std::string>& router,
                                              const std::string& workmode, std::vector<std::string> options = {}) {
        return runJobFor(42, setup.addRouter(router), workmode, options);
    }

    // Adds job jobId of workmode for a router already in the database,
    // runs it and returns its history row.
    std::map<std::string, std::string> runJobFor(unsigned long jobId, unsigned long routerId,
                                                 const std::string& workmode, std::vector<std::string> options,
                                                 unsigned long long jobtime = 1700000000ULL) {
        setup.addJob(jobId, routerId, workmode, jobtime);
        result = setup.run(jobId, options);
        auto h = setup.history(jobId);
        log = testsupport::unwrappedLog(h["log"]);
        return h;
    }

    e2e::JobSetup setup;
    testsupport::ProcessResult result;
    std::string log;
};
