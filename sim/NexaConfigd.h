#pragma once
#include <ctime>
#include <string>
#include <vector>

class DeviceState;
struct DevsimOptions;

// NexaConfigd is the NEXA device's configuration command:
//
//   configd [-s SRC] put|put_all all URL FILE NAME   export NAME to the server
//   configd [-s SRC] get|get_all all URL FILE NAME   fetch FILE into NAME
//   configd save TABLE NAME    table of the running configuration into NAME
//   configd load TABLE NAME    table of NAME into the running configuration
//   configd copy A B | move A B | delete NAME | list | -h
//
// The server of URL is --transfer-dir; an export carries a three-line
// header whose third line reads "# Created by configd ... TIME". Transfers
// answer "transfer ok" only when they succeeded; every refusal is a line
// starting "error: ".
class NexaConfigd {
public:
    NexaConfigd(DeviceState& state, const DevsimOptions& options);

    // The reply lines (each ending "\r\n") to "configd ARGS".
    std::string run(const std::vector<std::string>& args);

    // The header an export starts with.
    static std::string exportHeader(const std::string& name, const std::string& hostname, time_t when);
    // text without a leading export header of this device's making.
    static std::string withoutHeader(const std::string& text);

private:
    using Args = std::vector<std::string>;
    std::string help() const;
    std::string transfer(const std::string& verb, const Args& args, const std::string& source);
    std::string put(const std::string& file, const std::string& name);
    std::string get(const std::string& file, const std::string& name);

    DeviceState& state_;
    const DevsimOptions& options_;
};
