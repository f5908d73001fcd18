#include "util/TelnetNegotiation.h"

void TelnetNegotiation::receive(const char* data, size_t length, std::string& text, std::string& answers) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        switch (state_) {
            case State::Data:
                if (c == IAC) {
                    state_ = State::Iac;
                } else if (!(c == '\0' && afterCr_)) {
                    text += static_cast<char>(c);
                }
                afterCr_ = c == '\r';
                break;
            case State::Iac:
                if (c == IAC) {
                    text += static_cast<char>(c);
                    afterCr_ = false;
                    state_ = State::Data;
                } else if (c == SB) {
                    state_ = State::Sub;
                } else if (c >= WILL) {
                    verb_ = c;
                    state_ = State::Verb;
                } else {
                    state_ = State::Data;  // NOP, GA and the like: nothing to answer
                }
                break;
            case State::Verb:
                request(verb_, c, answers);
                state_ = State::Data;
                break;
            case State::Sub:
                // Subnegotiation of an option never agreed on: skipped whole.
                if (c == IAC) state_ = State::SubIac;
                break;
            case State::SubIac:
                state_ = c == SE ? State::Data : State::Sub;
                break;
        }
    }
}

void TelnetNegotiation::request(unsigned char verb, unsigned char option, std::string& answers) {
    switch (verb) {
        case WILL:
            if (option == ECHO || option == SGA) {
                // Already agreed: a repeated WILL needs no answer.
                if (!serverEnabled_[option]) answer(DO, option, answers);
                serverEnabled_[option] = true;
            } else if (!refusedWill_[option]) {
                answer(DONT, option, answers);
                refusedWill_[option] = true;
            }
            break;
        case WONT:
            // The server stops an option it did: acknowledged once; a WONT
            // for one it never did asks for nothing.
            if (serverEnabled_[option]) answer(DONT, option, answers);
            serverEnabled_[option] = false;
            refusedWill_[option] = true;
            break;
        case DO:
            if (!refusedDo_[option]) answer(WONT, option, answers);
            refusedDo_[option] = true;
            break;
        default:
            // DONT: this side does no option, so it is what already holds.
            break;
    }
}

void TelnetNegotiation::answer(unsigned char verb, unsigned char option, std::string& answers) {
    answers += static_cast<char>(IAC);
    answers += static_cast<char>(verb);
    answers += static_cast<char>(option);
}
