#pragma once
#include <string>

#include "util/ConnectionHandler.h"

// ReplyJudge opens the channel's shared reply judging and secret masking to
// tests. It has no transport: nothing is ever sent or read through it.
namespace testsupport {

class ReplyJudge : public ConnectionHandler {
public:
    static commandResult judgeReply(logEngine* log, const std::string& reply, const std::string& first,
                                    const std::string& second, bool quiet, const std::string& error,
                                    const std::string& type, const std::string& secret = "") {
        ReplyJudge judge(log, type);
        return judge.ConnectionHandler::judgeReply(reply, first, second, quiet, error, secret);
    }
    using ConnectionHandler::maskSecret;

private:
    ReplyJudge(logEngine* log, const std::string& type) : ConnectionHandler(log, DeviceFamily("NEXA"), type) {}
    bool connect(const ConnectSettings&, const LoginSettings&) override { return false; }
    bool checkSSHEnabled() override { return false; }
    bool writeCommand(const std::string&) override { return false; }
    std::string readReply(const AwaitedText&, const AwaitedText&, std::string&) override { return "no transport"; }
    void applyTimeout(int) override {}
    void release() override {}
    void sendLastCommand(const std::string&) override {}
    std::string rebootAcknowledgement() const override { return ""; }
    bool endsSessionWithoutLogin() const override { return false; }
};

}  // namespace testsupport
