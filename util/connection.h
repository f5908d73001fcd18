#pragma once
#include <memory>
#include <string>

#include "util/ConnectionHandler.h"
#include "util/TelnetNegotiation.h"

class iosockinet;
class logEngine;

// connection is the Telnet implementation of ConnectionHandler: a TCP
// stream to the router's Telnet port. The device's option negotiation is
// answered as a minimal client does (TelnetNegotiation) and kept out of
// the reply; everything else is carried as it is.
// log is not owned and must outlive the object.
class connection : public ConnectionHandler {
public:
    connection(logEngine* log, const DeviceFamily& family);
    ~connection() override;

    bool connect(const ConnectSettings& settings, const LoginSettings& logins) override;
    bool checkSSHEnabled() override;

    bool login(const LoginSettings& logins);
    bool getPromptPrefix(const std::string& reply);

protected:
    bool writeCommand(const std::string& command) override;
    std::string readReply(const AwaitedText& first, const AwaitedText& second, std::string& reply) override;
    void applyTimeout(int seconds) override;
    void release() override;
    // The device closes the line after the last command: nothing to await.
    void sendLastCommand(const std::string& command) override;
    std::string rebootAcknowledgement() const override { return promptText; }
    bool endsSessionWithoutLogin() const override { return false; }

private:
    bool openStream(const std::string& address, int port);
    // Writes the whole text; false (and an error line) when the peer is gone.
    bool writeRaw(const std::string& text);
    bool checkSSHPassQxCli();
    int checkSSHPassNexa();  // 1 ready, 0 not yet, -1 give up

    std::unique_ptr<iosockinet> stream;
    TelnetNegotiation negotiation;
    char readBuffer[256];
};
