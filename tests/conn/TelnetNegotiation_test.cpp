// The client side of Telnet option negotiation, byte for byte.
#include "util/TelnetNegotiation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using T = TelnetNegotiation;

std::string bytes(std::initializer_list<unsigned char> list) {
    return std::string(list.begin(), list.end());
}

struct NegotiationCase {
    const char* what;
    std::vector<std::string> reads;  // what arrives, read by read
    std::string text;                // the device's text
    std::string answers;             // everything sent back
};

}  // namespace

TEST(TelnetNegotiation, RefusesAllButEchoAndSgaAndAnswersNothingTwice) {
    const unsigned char TTYPE = 24, NAWS = 31, ENCRYPT = 38, LINEMODE = 34;
    const NegotiationCase cases[] = {
        {"plain text passes", {"Login: "}, "Login: ", ""},
        {"echo and go-ahead suppression accepted",
         {bytes({T::IAC, T::WILL, T::ECHO, T::IAC, T::WILL, T::SGA}) + "Login: "},
         "Login: ",
         bytes({T::IAC, T::DO, T::ECHO, T::IAC, T::DO, T::SGA})},
        {"everything else refused",
         {bytes({T::IAC, T::WILL, ENCRYPT, T::IAC, T::DO, TTYPE, T::IAC, T::DO, NAWS, T::IAC, T::WILL, LINEMODE})},
         "",
         bytes({T::IAC, T::DONT, ENCRYPT, T::IAC, T::WONT, TTYPE, T::IAC, T::WONT, NAWS, T::IAC, T::DONT, LINEMODE})},
        {"a repeated request gets no second answer",
         {bytes({T::IAC, T::WILL, T::ECHO, T::IAC, T::DO, TTYPE}), bytes({T::IAC, T::WILL, T::ECHO, T::IAC, T::DO, TTYPE})},
         "",
         bytes({T::IAC, T::DO, T::ECHO, T::IAC, T::WONT, TTYPE})},
        {"an option the server ends is acknowledged, one it never did is not",
         {bytes({T::IAC, T::WILL, T::ECHO, T::IAC, T::WONT, T::ECHO, T::IAC, T::WONT, T::SGA, T::IAC, T::DONT, TTYPE})},
         "",
         bytes({T::IAC, T::DO, T::ECHO, T::IAC, T::DONT, T::ECHO})},
        {"a command split between reads", {bytes({T::IAC}), bytes({T::DO}), bytes({TTYPE}) + "ok"}, "ok",
         bytes({T::IAC, T::WONT, TTYPE})},
        {"subnegotiation, other commands, IAC IAC and CR NUL",
         {bytes({T::IAC, T::SB, TTYPE, 1, T::IAC, T::SE}) + "a" + bytes({T::IAC, 241, T::IAC, T::IAC}) + "b\r" +
          std::string(1, '\0') + "c"},
         "a\xff" "b\rc",
         ""},
    };
    for (const NegotiationCase& c : cases) {
        SCOPED_TRACE(c.what);
        TelnetNegotiation negotiation;
        std::string text, answers;
        for (const std::string& read : c.reads) negotiation.receive(read.data(), read.size(), text, answers);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(answers, c.answers);
    }
}
