#pragma once
#include <memory>
#include <string>
#include <vector>

#include "tests/dbsupport/TestDatabase.h"
#include "tests/support/TestSupport.h"

namespace dispatchtest {

class DispatcherProcess;

// FleetDatabase is the database of a fleet test, of the test's own, so
// that stopping a part of it disturbs no other test: a three-node Galera
// cluster on loopback (tests/dbsupport/galera-fixture.sh in a folder of
// the test). Host k of the fleet talks to node k + 1 first and to the
// others after it; stopNode() kills node 2 (a node that dies),
// restartNode() starts it again and waits until it has caught up with
// the cluster. The destructor stops every node.
class FleetDatabase {
public:
    FleetDatabase();
    ~FleetDatabase();
    FleetDatabase(const FleetDatabase&) = delete;
    FleetDatabase& operator=(const FleetDatabase&) = delete;

    bool start();
    // Node 1's facts (the test's own connection uses it).
    const testdb::ServerFacts& facts() const { return facts_; }
    // The settings' "server" for host k: its own node first.
    std::string serversFor(int k) const;
    static const int kStoppedNode = 2;
    bool stopNode();
    bool restartNode();
    // Whether a running dispatcher of hosts has said that its database
    // does not answer.
    bool noticed(const std::vector<std::unique_ptr<DispatcherProcess>>& hosts) const;
    const std::string& error() const { return error_; }

private:
    bool script(const std::vector<std::string>& arguments);

    testsupport::TempDir dir_;
    testdb::ServerFacts facts_;
    int ports_[3] = {0, 0, 0};
    bool started_ = false;
    std::string error_;
};

}  // namespace dispatchtest
