#pragma once
#include <string>
#include <vector>

#include "util/commandResult.h"

class logEngine;

enum eConnectionType { Telnet = 0, SSH = 1, SFTP = 2 };

// Where and how to reach a router; filled by the job at start-up.
struct ConnectSettings {
    std::string address;
    int telnetPort = 23;
    int sshPort = 22;
    int connectTimeout = 0;   // seconds to establish the connection
    int commandTimeout = 10;  // silence time-out of every later wait
    std::string fallbackAddress;  // empty: none
    bool startWithFallback = false;

    // The addresses in the order they are tried.
    std::vector<std::string> addressList() const;
};

// One login candidate. The label is logged in place of the password so
// the transcript shows which candidate was sent without showing it.
struct LoginRow {
    std::string user;
    std::string password;
    std::string label;
};

using LoginSettings = std::vector<LoginRow>;

// ConnectionHandler is the one interface the device operations see:
// Telnet (connection) or SSH/SFTP (SSHConnection). Device-side problems are
// never raised: a failed connect is false, a missing reply a result with
// both flags false, and the reasons are in the log.
class ConnectionHandler {
public:
    virtual ~ConnectionHandler();
    virtual bool connect(const ConnectSettings& settings, const LoginSettings& logins) = 0;
    virtual void disconnect() = 0;
    virtual void triggerReboot() = 0;
    virtual bool checkSSHEnabled() = 0;
    virtual commandResult sendCmd(const std::string& command, const std::string& first,
                                  const std::string& second, bool logReplyAsDebug) = 0;
    virtual commandResult catchTraffic(const std::string& first, const std::string& second,
                                       bool logReplyAsDebug) = 0;
    virtual bool isConnected() = 0;
    virtual void setSafe(bool on) = 0;
    virtual void setTimeout(int seconds) = 0;
    virtual void resetTimeout() = 0;
    virtual const std::string& cTypeStr() = 0;

    // The part of the qx.CLI prompt before its final "*"; "\n" on SFTP to a
    // qx.CLI device; empty on NEXA.
    std::string promptPrefix;

protected:
    // Judges one collected reply against the expected texts and logs it the
    // way every connection does. waitError is the time-out or read error
    // message of the wait ("" when the wait ended normally). typeName is
    // used in the not-found message ("Telnet", "SSH", "SFTP"). A non-empty
    // secret (the password just sent) is replaced by "******" in what is
    // logged, never in the result, in case the device echoes it.
    static commandResult judgeReply(logEngine* log, const std::string& reply, const std::string& first,
                                    const std::string& second, bool logReplyAsDebug,
                                    const std::string& waitError, const std::string& typeName,
                                    const std::string& secret = "");
    // text with every occurrence of secret replaced literally by "******".
    static std::string maskSecret(const std::string& text, const std::string& secret);
    // The qx.CLI prompt prefix is the reply from its last line feed up to
    // its last "*"; sets promptPrefix and promptText (prefix + "*"). False,
    // with the error logged, when the reply has no "*" after a line feed.
    bool takePromptPrefix(logEngine* log, const std::string& reply, std::string& promptText);
    // Switches the device shell's inactivity time-out off after a login:
    // "t 0" on NEXA, the running configuration's inactivity timer on
    // qx.CLI. False, with the missing prompt logged, when the device did
    // not answer as expected; the caller then disconnects.
    bool deactivateShellTimeout(logEngine* log, bool qxCli, const std::string& promptText,
                                const std::string& configPrompt);

public:
    // A pause that a signal cannot cut short.
    static void pauseSeconds(unsigned seconds);
};
