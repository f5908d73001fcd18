#pragma once
#include <string>
#include <vector>

#include "util/ConnectionHandler.h"
#include "util/Expect.h"

class logEngine;

// SSHConnection is the ConnectionHandler for SSH and SFTP. It does not speak
// the protocol itself: it runs the OpenSSH client (ssh or sftp) on a
// pseudo-terminal through the expect engine and conducts the login dialogue
// by patterns, cycling through the router's addresses and the login list.
// When the very first attempt finds no SSH service it logs in over Telnet
// once to switch the service on. At most one client runs at any time.
// log is not owned and must outlive the object.
class SSHConnection : public ConnectionHandler {
public:
    SSHConnection(logEngine* log, const DeviceFamily& family, eConnectionType type);
    ~SSHConnection() override;

    bool connect(const ConnectSettings& settings, const LoginSettings& logins) override;
    bool checkSSHEnabled() override;

    // One login dialogue with the running client. row is the current login
    // row (advanced for every password sent); end is logins.size().
    bool login(const LoginSettings& logins, size_t& row, size_t end);

    // The client's arguments for one attempt, program name first. The
    // client is started without a shell, so user and address reach it as
    // one literal argument each.
    std::vector<std::string> commandArgs(const std::string& user, const std::string& address, int port) const;
    // The same as one line, for the log.
    std::string commandLine(const std::string& user, const std::string& address, int port) const;

protected:
    bool writeCommand(const std::string& command) override;
    std::string readReply(const AwaitedText& first, const AwaitedText& second, std::string& reply) override;
    void applyTimeout(int seconds) override;
    void release() override;
    // SFTP ends with the client's own "exit".
    DeviceFamily::Logout logoutDialogue() const override;
    // Awaits the client's last words (exitText) and lets it end.
    void sendLastCommand(const std::string& command) override;
    // SFTP carries no shell; a qx.CLI device ends the session at once.
    std::string rebootAcknowledgement() const override;
    // A client may run without a login; the reboot ends it as well.
    bool endsSessionWithoutLogin() const override { return true; }

private:
    // Why ssh refused before it asked for any password, when its output
    // tells (a changed host key, a server that takes public keys only);
    // empty otherwise.
    static std::string refusalWithoutPassword(const std::string& output);
    // The last login ended in such a refusal: no other password, user or
    // Telnet check can change it.
    bool refusedWithoutPassword = false;
    // Logs in over Telnet and makes sure the device's SSH service runs.
    bool enableSSHOverTelnet(const ConnectSettings& settings, const LoginSettings& logins);
    void endClient();
    // One wait of the login dialogue; an engine exception is logged and
    // counts as -1.
    int waitInLogin(const std::vector<ExpectRegex>& patterns);
    // The output of the last wait, logged as traffic with secret masked.
    std::string takeLoginOutput(const std::string& secret);
    // After "Permission denied": whether a new password prompt follows;
    // what the client printed meanwhile is appended to output.
    bool promptFollowsRefusal(const std::string& secret, std::string& output);
    // Gives the client a moment to end by itself after the exit dialogue:
    // with ssh -T the awaited "exit" is the local terminal's echo, and
    // stopping the client at once could keep the command from the device.
    void letClientFinish();

    Expect engine;
    eConnectionType connType;
    std::string promptPattern;
    std::string exitText;
};
