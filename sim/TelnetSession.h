#pragma once
#include <string>
#include <vector>

class DeviceState;
class SessionHost;
class StopSignal;
class Transcript;
struct DevsimOptions;

// TelnetSession serves one Telnet connection: raw bytes both ways and the
// shell of the device's family, no option negotiation. With the
// telnet-options fault the device sends a few option bytes at connect, as
// some devices do, strips the client's option commands from its input and
// notes each in the transcript ("telnet option from the client: DO
// ECHO"). In the strict mode it offers more options and withholds its
// greeting (and what the client typed meanwhile) until every offer has
// been answered, as BSD-derived telnetds do; then it repeats its WILL ECHO
// and WILL SGA, which a client that already agreed must not answer again
// (noted as "answered twice" when it does). The session ends when the
// shell ends it, the client goes, or the device stops.
class TelnetSession {
public:
    // fd stays owned by the caller; the others must outlive the session.
    TelnetSession(int fd, std::string label, DeviceState& state, const DevsimOptions& options, Transcript& transcript,
                  SessionHost& host);
    void run(const StopSignal& stop);

private:
    enum class OptionState { Data, Iac, Option, Sub, SubIac };
    // An option the device asked about, and whether the client answered.
    struct Offer {
        unsigned char verb;  // WILL or DO
        unsigned char option;
        bool answered;
    };

    bool sendAll(const char* data, size_t length, const StopSignal& stop);
    // --noise: random bytes instead of a device.
    void runNoise(const StopSignal& stop);
    // Sends the offers of the fault's mode.
    void offerOptions(const StopSignal& stop);
    std::string stripOptions(const char* data, size_t length);
    void optionCommand(unsigned char verb, unsigned char option);
    bool allAnswered() const;
    void closeGracefully(bool drain);

    int fd_;
    std::string label_;
    DeviceState& state_;
    const DevsimOptions& options_;
    Transcript& transcript_;
    SessionHost& host_;
    OptionState optionState_ = OptionState::Data;
    unsigned char optionVerb_ = 0;
    std::vector<Offer> offers_;
};
