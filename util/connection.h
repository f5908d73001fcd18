#pragma once
#include <memory>
#include <string>

#include "util/ConnectionHandler.h"

class iosockinet;
class logEngine;

// connection is the Telnet implementation of ConnectionHandler: a plain TCP
// stream to the router's Telnet port, carrying raw bytes both ways (no
// option negotiation; the device's negotiation bytes end up in the reply).
// The device type text "qx.CLI" selects the qx.CLI dialogue, any other text
// the NEXA dialogue. log is not owned and must outlive the object.
class connection : public ConnectionHandler {
public:
    connection(logEngine* log, const std::string& deviceType);
    ~connection() override;
    connection(const connection&) = delete;
    connection& operator=(const connection&) = delete;

    bool connect(const ConnectSettings& settings, const LoginSettings& logins) override;
    void disconnect() override;
    void triggerReboot() override;
    bool checkSSHEnabled() override;
    commandResult sendCmd(const std::string& command, const std::string& first, const std::string& second,
                          bool logReplyAsDebug) override;
    commandResult catchTraffic(const std::string& first, const std::string& second, bool logReplyAsDebug) override;
    bool isConnected() override { return connected; }
    void setSafe(bool on) override { safe = on; }
    void setTimeout(int seconds) override;
    void resetTimeout() override;
    const std::string& cTypeStr() override { return typeName; }

    bool login(const LoginSettings& logins);
    bool getPromptPrefix(const std::string& reply);

private:
    bool isQxCli() const { return deviceType == "qx.CLI"; }
    bool openStream(const std::string& address, int port);
    void releaseStream();
    // Writes the whole text; false (and an error line) when the peer is gone.
    bool writeRaw(const std::string& text);
    // sendCmd that logs "Missing '%s' prompt!" when the first text is missing.
    bool sendExpecting(const std::string& command, const std::string& expected, commandResult* result = nullptr);
    // Reads until an expected text arrives or the device stays silent; a
    // non-empty secret is masked in what is logged of the reply.
    commandResult readReply(const std::string& first, const std::string& second, bool logReplyAsDebug,
                            const std::string& secret);
    commandResult catchTrafficMasked(const std::string& first, const std::string& second, const std::string& secret);
    bool checkSSHPassQxCli();
    int checkSSHPassNexa();  // 1 ready, 0 not yet, -1 give up

    std::unique_ptr<iosockinet> stream;
    int connectTimeout = 0;
    int commandTimeout = 10;
    bool connected = false;
    bool safe = false;
    char readBuffer[256];
    logEngine* log;
    std::string deviceType;
    std::string promptText;
    std::string loginPrompt;
    std::string passwordPrompt;
    std::string confirmPrompt;
    std::string configPrompt;
    std::string sshConfigPrompt;
    std::string sshServerPrompt;
    std::string typeName;
};
