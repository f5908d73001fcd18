#pragma once
#include <bitset>
#include <cstddef>
#include <string>

// TelnetNegotiation is the client side of Telnet option negotiation, as
// small as a client can be: it refuses every option (WONT to a DO, DONT to
// a WILL) except that it accepts the server's WILL ECHO and WILL SGA with
// DO, and it answers no request twice, so two sides that repeat themselves
// cannot loop. A server that offers options and waits for the answers
// (as BSD-derived telnetds do) therefore goes on to its login prompt, and
// one that goes on without waiting is not disturbed.
//
// receive() splits what arrived into the device's text and the answers to
// send back: the negotiation bytes (IAC commands, option negotiation and
// subnegotiation) never reach the text. IAC IAC is one data byte 255, and
// the NUL that follows a bare carriage return is dropped. The state lasts
// across reads, so a command split between two reads is still understood.
class TelnetNegotiation {
public:
    static constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
    static constexpr unsigned char ECHO = 1, SGA = 3;

    // Appends the data bytes to text and the answers to answers.
    void receive(const char* data, size_t length, std::string& text, std::string& answers);
    // A new connection: nothing negotiated yet.
    void reset() { *this = TelnetNegotiation(); }

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };

    void request(unsigned char verb, unsigned char option, std::string& answers);
    static void answer(unsigned char verb, unsigned char option, std::string& answers);

    State state_ = State::Data;
    unsigned char verb_ = 0;
    bool afterCr_ = false;
    std::bitset<256> serverEnabled_;  // options the server does (we said DO)
    std::bitset<256> refusedWill_;    // WILLs we answered with DONT
    std::bitset<256> refusedDo_;      // DOs we answered with WONT
};
