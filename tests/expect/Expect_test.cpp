// The engine's dialogue behaviour, driven against real shell children.
#include "util/Expect.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/expect/ExpectTestSupport.h"
#include "tests/support/TestSupport.h"
#include "util/ExpectException.h"
#include "util/logEngine.h"

namespace {

using expecttest::nowMs;
using expecttest::raised;

// The children below print in steps; each step after the first waits for a
// line from the test ("go"), so what arrives in which read is decided by the
// test and not by how busy the machine is. The children switch the
// terminal's echo off so the line itself is not read back.
class ExpectTest : public ::testing::Test {
protected:
    // Lets the child print its next step.
    void go() { engine << "go\n"; }
    // Reads until text is in the accumulator (the live one: getAccum still
    // shows the last match's buffer until the next wait).
    void readUntil(const std::string& text) {
        const int saved = engine.timeoutMs;
        engine.setTimeout(5000);
        while (engine.accum->find(text) == std::string::npos) ASSERT_EQ(engine.notBlockableRead(), 1) << text;
        engine.setTimeout(saved);
    }

    logEngine log;
    Expect engine{&log};
};

TEST_F(ExpectTest, ListOrderDecidesAndTextAfterAMatchIsNotSeenAgain) {
    engine.setTimeout(3000);
    ASSERT_TRUE(engine.spawn("stty -echo; printf xPROMPTyz; read go; printf ab; exec sleep 10"));
    ASSERT_EQ(engine.expect(ExpectRegex("PROMPT")), true);
    EXPECT_EQ(engine.getAccum(), "xPROMPTyz");
    EXPECT_EQ(engine.getBefore(), "x");
    EXPECT_EQ(engine.getMatch(), "PROMPT");

    // yz came in the same read as the match and is gone; ab arrives in one
    // read, and b is listed before a.
    go();
    std::vector<ExpectRegex> list = {ExpectRegex("z"), ExpectRegex("b"), ExpectRegex("/a/")};
    EXPECT_EQ(engine.expect(list), 2);
    EXPECT_EQ(engine.getAccum(), "ab");
    EXPECT_EQ(engine.getBefore(), "a");
    EXPECT_EQ(engine.getMatch(), "b");

    // After a clear nothing of the last match is left to read.
    engine.clearAccum();
    EXPECT_EQ(engine.getAccum(), "");
    EXPECT_EQ(engine.getBefore(), "");
    EXPECT_EQ(engine.getMatch(), "");
    EXPECT_EQ(raised([&] { engine.getMatch(0); }), "Calling getMatch(int) while no matching exists");
    engine.setTimeout(200);
    EXPECT_EQ(engine.expect(ExpectRegex("z")), false);
    EXPECT_EQ(engine.getAccum(), "");
}

TEST_F(ExpectTest, SilenceEndsAWaitButSteadyOutputDoesNot) {
    // Ticks 0.2 s apart for 3 seconds: the wait outlasts its 2 s limit
    // because every tick renews it.
    engine.setTimeout(2000);
    ASSERT_TRUE(
        engine.spawn("stty -echo; i=0; while [ $i -lt 15 ]; do echo tick$i; i=$((i+1)); sleep 0.2; done; echo DONE; "
                     "read go; printf 'late text'; exec sleep 10"));
    long long start = nowMs();
    ASSERT_EQ(engine.expect("DONE", nullptr), 1);
    EXPECT_GE(nowMs() - start, 2800) << "fifteen ticks 0.2 s apart, longer than the 2 s limit";
    std::string before = engine.getBefore();
    EXPECT_EQ(before.rfind("tick0\r\n", 0), 0u) << before;
    EXPECT_NE(before.find("tick14\r\n"), std::string::npos) << before;

    go();
    readUntil("late text");
    engine.setTimeout(800);
    start = nowMs();
    EXPECT_EQ(engine.expect("never", nullptr), 0);
    EXPECT_GE(nowMs() - start, 800);
    EXPECT_EQ(engine.getAccum(), "late text") << "everything read since the last match, and only that";
    EXPECT_EQ(engine.getBefore(), "late text");
    EXPECT_EQ(engine.getMatch(), "");

    // What is already there is found without waiting for more output.
    ASSERT_EQ(engine.expect("/LATE (TE)XT/i", nullptr), 1);
    EXPECT_EQ(engine.getMatch(), "late text");
    EXPECT_EQ(engine.getMatch(0), "te");
    EXPECT_EQ(raised([&] { engine.getMatch(1); }), "Calling getMatch(int) while no matching exists");
    EXPECT_EQ(raised([&] { engine.getMatch(-1); }), "Calling getMatch(int) while no matching exists");
    engine.setTimeout(200);
    EXPECT_EQ(engine.notBlockableRead(), 0);
}

TEST_F(ExpectTest, TheWaitLimitEndsAWaitThatSteadyOutputOrAFloodKeepsAlive) {
    // A tick every 0.1 s, or an endless flood: neither lets the 5 s silence
    // limit run out, and neither shows the awaited text.
    for (const char* child : {"stty -echo; while :; do printf .; sleep 0.1; done", "stty -echo; exec yes"}) {
        SCOPED_TRACE(child);
        engine.clearAccum();
        engine.setTimeout(5000);
        engine.setWaitLimit(800);
        ASSERT_TRUE(engine.spawn("%s", child));
        long long start = nowMs();
        EXPECT_EQ(engine.expect_noreg("PROMPT", ""), 0);
        EXPECT_TRUE(engine.limitReached());
        EXPECT_GE(nowMs() - start, 800);
        EXPECT_GE(engine.lastWaitMs(), 800);
        EXPECT_FALSE(engine.getAccum().empty()) << "what came is kept, as after a silence";
        printf("wait ended at its limit after %lld ms\n", engine.lastWaitMs());

        // The pattern form is limited the same way; a match is no limit.
        EXPECT_EQ(engine.expect("/NEVER/", nullptr), 0);
        EXPECT_TRUE(engine.limitReached());
        ASSERT_EQ(engine.expect("/[.y]/", nullptr), 1);
        EXPECT_FALSE(engine.limitReached());
        engine.stop();
    }
    // A silence within the limit is still a silence.
    engine.clearAccum();
    engine.setTimeout(300);
    engine.setWaitLimit(60000);
    ASSERT_TRUE(engine.spawn("stty -echo; exec sleep 10"));
    EXPECT_EQ(engine.expect_noreg("PROMPT", ""), 0);
    EXPECT_FALSE(engine.limitReached());
    EXPECT_GE(engine.lastWaitMs(), 300);
}

TEST_F(ExpectTest, PlainTextsSkipEmptyOnesAndPatternsCanBeGivenAsStrings) {
    ASSERT_TRUE(engine.spawn("stty -echo; echo hello; read go; echo world; exec sleep 10"));
    readUntil("\n");
    engine.setTimeout(300);
    long long start = nowMs();
    EXPECT_EQ(engine.expect_noreg("", ""), 0) << "no texts: only a silence ends the wait";
    EXPECT_GE(nowMs() - start, 300);
    EXPECT_EQ(engine.getAccum(), "hello\r\n");

    EXPECT_TRUE(engine.matchAccum(ExpectRegex("/l+/")));
    EXPECT_EQ(engine.getMatch(), "ll");
    EXPECT_EQ(engine.getBefore(), "he");
    EXPECT_FALSE(engine.matchAccum(ExpectRegex("world")));
    EXPECT_EQ(engine.getMatch(), "");

    EXPECT_EQ(engine.expect_noreg("", "ell"), 1) << "the position among the non-empty texts";
    EXPECT_EQ(engine.getAccum(), "hello\r\n");
    EXPECT_EQ(engine.getMatch(), "ell");
    EXPECT_EQ(engine.getBefore(), "h");
    EXPECT_EQ(raised([&] { engine.getMatch(0); }), "Calling getMatch(int) while no matching exists")
        << "a plain text has no groups";
    engine.clearAccum();

    go();
    engine.setTimeout(3000);
    EXPECT_EQ(engine.expect("/nomatch/", "/WOR(L)D/i", "(unclosed", nullptr), 2);
    EXPECT_EQ(engine.getMatch(0), "l");
    bool logged = false;
    std::vector<std::string> lines;
    log.fillVector(lines);
    for (const std::string& line : lines) logged = logged || line.find("(unclosed") != std::string::npos;
    EXPECT_TRUE(logged) << "a pattern that does not compile is reported";
}

TEST_F(ExpectTest, MatchesAcrossReadsAndAcrossThe512ByteSeam) {
    testsupport::TempDir dir;
    // cat writes this in one piece; the engine takes it in 512-byte reads,
    // so MARKER straddles the first seam and LATE lies in the second read.
    std::string reply = std::string(510, 'x') + "MARKER" + std::string(200, 'y') + "LATE" + std::string(500, 'z');
    testsupport::writeFile(dir.file("reply"), reply);
    engine.setTimeout(3000);
    ASSERT_TRUE(engine.spawn("cat '%s'; exec sleep 10", dir.file("reply").c_str()));
    ASSERT_EQ(engine.expect(std::vector<ExpectRegex>{ExpectRegex("LATE"), ExpectRegex("/MAR+KER/")}), 1)
        << "both match after the second read, and LATE is listed first";
    EXPECT_EQ(engine.getAccum(), reply.substr(0, 1024));

    ASSERT_TRUE(engine.spawn("cat '%s'; exec sleep 10", dir.file("reply").c_str()));
    ASSERT_EQ(engine.expect_noreg("MARKER", ""), 1);
    EXPECT_EQ(engine.getBefore(), std::string(510, 'x'));
    EXPECT_EQ(engine.getAccum(), reply.substr(0, 1024)) << "the rest of the second read goes with the match";
    ASSERT_EQ(engine.expect_noreg("zzz", ""), 1);
    EXPECT_EQ(engine.getAccum(), std::string(196, 'z')) << "the third read comes next";
    engine.clearAccum();

    // A prompt split over two reads: the second half is written only after
    // the first has been read, and the pattern matches across them.
    ASSERT_TRUE(engine.spawn("stty -echo; printf 'login ok\\nPass'; read go; printf 'word: '; exec sleep 10"));
    readUntil("Pass");
    EXPECT_FALSE(engine.matchAccum(ExpectRegex("/\\S*pass(word):\\s*/i"))) << "the first half alone";
    go();
    ASSERT_EQ(engine.expect(ExpectRegex("/\\S*pass(word):\\s*/i")), true);
    EXPECT_EQ(engine.getMatch(), "Password: ");
    EXPECT_EQ(engine.getMatch(0), "word");
    EXPECT_EQ(engine.getBefore(), "login ok\r\n");
}

TEST_F(ExpectTest, SendWritesTextsUnchangedAndFormatsOnlyTheFormattedForm) {
    engine.setTimeout(3000);
    ASSERT_TRUE(engine.spawn(std::string("stty -echo; echo READY; exec cat")));
    ASSERT_EQ(engine.expect_noreg("READY", ""), 1);
    engine.clearAccum();

    engine.send(std::string("100%s"));
    engine << "\n";
    ASSERT_EQ(engine.expect_noreg("\n", ""), 1);
    EXPECT_EQ(engine.getAccum(), "100%s\r\n");
    engine.clearAccum();

    engine.send("%d-%s|", 42, "x");
    engine << "100%d "
           << "tail\n";
    ASSERT_EQ(engine.expect_noreg("tail\r\n", ""), 1);
    EXPECT_EQ(engine.getAccum(), "42-x|100%d tail\r\n");
}

TEST_F(ExpectTest, LongInputIsWrittenWholeWhileTheChildReadsIt) {
    engine.setTimeout(5000);
    ASSERT_TRUE(engine.spawn("stty -echo; echo READY; exec wc -c"));
    ASSERT_EQ(engine.expect_noreg("READY", ""), 1);
    std::string line(99, 'q');
    line += '\n';
    std::string text;
    for (int i = 0; i < 3000; ++i) text += line;
    engine.send(text);  // far more than the terminal holds at once
    engine << "\x04";   // end of input at the start of a line
    ASSERT_EQ(engine.expect("/(\\d+)\\s/", nullptr), 1);
    EXPECT_EQ(engine.getMatch(0), "300000");
}

TEST_F(ExpectTest, WritingToAChildThatStopsReadingGivesUpAfterTheSilenceLimit) {
    engine.setTimeout(3000);
    ASSERT_TRUE(engine.spawn("stty -echo; echo READY; exec sleep 30"));
    ASSERT_EQ(engine.expect_noreg("READY", ""), 1);
    engine.setTimeout(300);
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "line that nobody reads\n";
    long long start = nowMs();
    EXPECT_EQ(raised([&] { engine.send(text); }), "Cannot write the hole string to pipe!");
    EXPECT_GE(nowMs() - start, 300);
}

TEST_F(ExpectTest, AChildThatEndsLeavesItsStatusAndRefusesFurtherUse) {
    engine.setTimeout(3000);
    ASSERT_TRUE(engine.spawn("echo bye; exit 1"));
    EXPECT_EQ(raised([&] { engine.expect("never", nullptr); }), "EOF reached!");
    EXPECT_EQ(engine.getExitCode(), 256) << "the raw status word";
    EXPECT_EQ(engine.pid, -1);
    EXPECT_EQ(engine.readFd, -1);
    EXPECT_EQ(engine.writeFd, -1);
    EXPECT_EQ(engine.getAccum(), "bye\r\n");

    const std::string gone = "Process not running or EOF reached!";
    EXPECT_EQ(raised([&] { engine.expect("bye", nullptr); }), gone);
    EXPECT_EQ(raised([&] { engine.expect_noreg("bye", ""); }), gone);
    EXPECT_EQ(raised([&] { engine.notBlockableRead(); }), gone);
    EXPECT_EQ(raised([&] { engine.readFromOutput(); }), gone);
    EXPECT_EQ(raised([&] { engine.send(std::string("x")); }), "Calling send on a closed pipe!!");
    EXPECT_EQ(raised([&] { engine << "x"; }), "Calling send on a closed pipe!!");

    // The same engine starts the next child; the buffers stay until cleared.
    ASSERT_TRUE(engine.spawn("kill -USR1 $$"));
    EXPECT_EQ(raised([&] {
                  while (true) engine.notBlockableRead();
              }),
              "EOF reached!");
    EXPECT_TRUE(WIFSIGNALED(engine.getExitCode()));
    EXPECT_EQ(WTERMSIG(engine.getExitCode()), SIGUSR1) << "the child has the default action for SIGUSR1";
    EXPECT_EQ(engine.getAccum(), "bye\r\n");
}

}  // namespace

namespace {
// A prompt of the terminal dialogue, as a plain text or a pattern, and what
// the child prints: either the wait ends when the child stops after it, or
// the child's later output decides.
struct PromptCase {
    const char* what;
    const char* printed;  // printf format of the child
    bool pattern;         // awaited as AwaitedText::promptPattern, else as a prompt text
    const char* awaited;
    int expected;  // the wait's result: 1 the prompt counted, 0 it did not
    const char* before;
};
}  // namespace

// A prompt counts only where the child stops after it; the same character
// inside a line neither ends the wait nor counts.
TEST_F(ExpectTest, APromptCountsOnlyAtTheEndOfWhatArrived) {
    const PromptCase cases[] = {
        {"inside a line", "Access denied -> call us\\nLogin: ", false, ">", 0, ""},
        {"at the end, blanks after it", "banner -> x\\nrouter1> \\t", false, ">", 1, "banner -> x\r\nrouter1"},
        {"a line end after it", "router1>\\n", false, ">", 0, ""},
        {"banner stars, then the prompt", "*** only ***\\n/doc/*/copyright\\nrouter1*", true, "/\\*/", 1,
         "*** only ***\r\n/doc/*/copyright\r\nrouter1"},
        {"banner stars alone", "*** only ***\\n", true, "/\\*/", 0, ""},
        {"a pattern that allows line ends after it", "Note:x>\\n", true, "/\\n*.*:\\w*>\\s*/", 0, ""},
        {"the same pattern at the end", "motd:> no\\nr1:admin> ", true, "/\\n*.*:\\w*>\\s*/", 1, "motd:> no"},
    };
    for (const PromptCase& c : cases) {
        SCOPED_TRACE(c.what);
        engine.clearAccum();
        engine.setTimeout(c.expected ? 5000 : 500);
        ASSERT_TRUE(engine.spawn("stty -echo; printf '%s'; exec sleep 10", c.printed));
        const int result = c.pattern ? engine.expect(std::vector<ExpectRegex>{AwaitedText::promptPattern(c.awaited)})
                                     : engine.expectTexts(AwaitedText(c.awaited, true), AwaitedText());
        EXPECT_EQ(result, c.expected);
        if (c.expected) {
            EXPECT_EQ(engine.getBefore().substr(0, std::string(c.before).size()), c.before);
            // Nothing but blanks follows what matched.
            const std::string after = engine.getAccum().substr(engine.getBefore().size() + engine.getMatch().size());
            EXPECT_EQ(after.find_first_not_of(" \t"), std::string::npos) << after;
        }
        engine.stop();
    }
    // Other texts keep counting anywhere: a question inside a line.
    engine.clearAccum();
    engine.setTimeout(5000);
    ASSERT_TRUE(engine.spawn("stty -echo; printf 'Overwrite? (Yes/No) or wait\\n'; exec sleep 10"));
    EXPECT_EQ(engine.expectTexts(AwaitedText("(Yes/No)", false), AwaitedText(">", true)), 1);
}
