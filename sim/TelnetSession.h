#pragma once
#include <string>

class DeviceState;
class SessionHost;
class StopSignal;
class Transcript;
struct DevsimOptions;

// TelnetSession serves one Telnet connection: raw bytes both ways and the
// shell of the device's family, no option negotiation. With the
// telnet-options fault the device sends a few option bytes at connect, as
// some devices do, and strips the client's option answers. The session
// ends when the shell ends it, the client goes, or the device stops.
class TelnetSession {
public:
    // fd stays owned by the caller; the others must outlive the session.
    TelnetSession(int fd, std::string label, DeviceState& state, const DevsimOptions& options, Transcript& transcript,
                  SessionHost& host);
    void run(const StopSignal& stop);

private:
    enum class OptionState { Data, Iac, Option, Sub, SubIac };

    bool sendAll(const char* data, size_t length, const StopSignal& stop);
    std::string stripOptions(const char* data, size_t length);
    void closeGracefully(bool drain);

    int fd_;
    std::string label_;
    DeviceState& state_;
    const DevsimOptions& options_;
    Transcript& transcript_;
    SessionHost& host_;
    OptionState optionState_ = OptionState::Data;
};
