// The --chaos faults: reproducible from the seed, every fault kind drawn,
// and a shell that carries each one out.
#include "sim/Chaos.h"

#include <map>
#include <vector>

#include "tests/sim/ShellFixture.h"

namespace {

std::vector<int> draws(uint64_t seed, int count) {
    Chaos chaos(seed);
    std::vector<int> seen;
    for (int i = 0; i < count; ++i) {
        int slowMs = 0;
        seen.push_back(i % 3 == 0 ? static_cast<int>(chaos.onConnection()) : static_cast<int>(chaos.onCommand(slowMs)));
        if (slowMs) seen.push_back(slowMs);
    }
    return seen;
}

}  // namespace

TEST(Chaos, SameSeedSameFaultsEveryKindDrawn) {
    EXPECT_EQ(draws(42, 3000), draws(42, 3000));
    EXPECT_NE(draws(42, 3000), draws(43, 3000));
    Chaos chaos(7);
    std::map<Chaos::Fault, int> counts;
    const int commands = 20000;
    for (int i = 0; i < commands; ++i) {
        int slowMs = 0;
        Chaos::Fault fault = chaos.onCommand(slowMs);
        ++counts[fault];
        if (fault == Chaos::Fault::Slow) {
            EXPECT_GE(slowMs, 1);
            EXPECT_LE(slowMs, Chaos::maxSlowMs);
        } else {
            EXPECT_EQ(slowMs, 0);
        }
        EXPECT_NE(fault, Chaos::Fault::DropConnection);
    }
    for (auto fault : {Chaos::Fault::CloseMidReply, Chaos::Fault::Silent, Chaos::Fault::Reboot, Chaos::Fault::Slow})
        EXPECT_GT(counts[fault], commands / Chaos::commandOdds / 8) << Chaos::name(fault);
    // Most commands go through unharmed, or no job would ever finish.
    EXPECT_GT(counts[Chaos::Fault::None], commands * 8 / 10);
    int dropped = 0;
    for (int i = 0; i < 8000; ++i) dropped += chaos.onConnection() == Chaos::Fault::DropConnection;
    EXPECT_GT(dropped, 8000 / Chaos::connectionOdds / 2);
    EXPECT_LT(dropped, 8000 / Chaos::connectionOdds * 2);
}

class ChaosShellTest : public ShellFixture {};

// A shell over a chaotic device: commands until every fault kind has hit
// one session; each session shows what its fault promises.
TEST_F(ChaosShellTest, ShellCarriesOutEachFault) {
    open(SimFamily::Nexa);
    Chaos chaos(11);
    std::map<std::string, int> seen;
    for (int session = 0; session < 400 && seen.size() < 4; ++session) {
        Shell::Context context;
        context.session = "ssh#" + std::to_string(session);
        context.user = "admin";
        context.chaos = &chaos;
        auto s = ShellFactory::make(*state, options, transcript.get(), context);
        s->start();
        s->takeOutput();
        for (int command = 0; command < 30; ++command) {
            std::string reply = feed(*s, "ping -c 1 10.0.0.254\r\n");
            int holdBack = s->takeHoldBackMs();
            if (s->ending() == Shell::Ending::Drop) {
                // Half the reply: the prompt never arrives.
                EXPECT_EQ(reply.find("router1:admin>"), std::string::npos) << reply;
                ++seen["drop"];
                break;
            }
            if (s->ending() == Shell::Ending::Reboot) {
                EXPECT_NE(reply.find("router1:admin>"), std::string::npos) << reply;
                ++seen["reboot"];
                break;
            }
            if (reply.empty()) {
                // Silent: nothing more, whatever comes.
                EXPECT_EQ(feed(*s, "help\r\n"), "");
                EXPECT_EQ(s->idleTimeoutSeconds(), 0);
                ++seen["silent"];
                break;
            }
            EXPECT_NE(reply.find("router1:admin>"), std::string::npos) << reply;
            if (holdBack > 0) {
                EXPECT_LE(holdBack, Chaos::maxSlowMs);
                ++seen["slow"];
            }
        }
    }
    EXPECT_EQ(seen.size(), 4u);
    std::string text = testsupport::readFile(state->path("transcript"));
    for (const char* event : {"chaos: silent from now on", "chaos: reboot after the reply", "chaos: reply held back",
                              "chaos: connection dropped in the middle of the reply"})
        EXPECT_NE(text.find(event), std::string::npos) << event;
}
