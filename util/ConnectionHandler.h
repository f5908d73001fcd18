#pragma once
#include <string>
#include <vector>

#include "util/AwaitedText.h"
#include "util/DeviceFamily.h"
#include "util/commandResult.h"

class logEngine;

enum eConnectionType { Telnet = 0, SSH = 1, SFTP = 2 };

// One login candidate. The label is logged in place of the password so
// the transcript shows which candidate was sent without showing it.
struct LoginRow {
    std::string user;
    std::string password;
    std::string label;
};

using LoginSettings = std::vector<LoginRow>;

// Where and how to reach a router; filled by the job at start-up.
struct ConnectSettings {
    std::string address;
    long telnetPort = 23;  // long: a database value out of range must not wrap
    long sshPort = 22;
    int connectTimeout = 0;       // seconds to establish the connection
    int commandTimeout = 10;      // silence time-out of every later wait
    std::string fallbackAddress;  // empty: none
    bool startWithFallback = false;

    // The addresses in the order they are tried.
    std::vector<std::string> addressList() const;
    // Why these settings must not be used for a connection (overTelnet: the
    // Telnet port, else the SSH port) with these logins: an address that is
    // not an IPv4 or IPv6 literal or a host name, a user that begins with
    // "-", a port outside 1..65535. Empty when they may be used. The values
    // come from the database and reach a client program's command line and
    // the resolver; nothing may be started with a refused one.
    std::string refusal(bool overTelnet, const LoginSettings& logins) const;
    // An IPv4 literal (dotted quad), an IPv6 literal or a host name (labels
    // of letters, digits and inner hyphens, at most 253 characters).
    static bool validAddress(const std::string& address);
};

// ConnectionHandler is the channel every device operation talks through:
// Telnet (connection) or SSH/SFTP (SSHConnection) below it, the per-family
// dialogues of the job above it. It owns what every connection shares (the
// log, the family's texts, the time-outs, the connected flag) and the one
// way to send a command and judge the reply; an implementation only writes
// bytes and reads until a text arrives. Device-side problems are never
// raised: a failed connect is false, a missing reply a result with both
// flags false, and the reasons are in the log. log is not owned and must
// outlive the object.
class ConnectionHandler {
public:
    virtual ~ConnectionHandler();
    ConnectionHandler(const ConnectionHandler&) = delete;
    ConnectionHandler& operator=(const ConnectionHandler&) = delete;

    virtual bool connect(const ConnectSettings& settings, const LoginSettings& logins) = 0;
    // Holds the logout dialogue where it can still be held (the family's
    // logout command, its confirmation) and ends the session.
    void disconnect();
    // Sends the family's reboot command where the transport carries a
    // shell, and ends the session: the device goes down. True when the
    // device acknowledged the command; false when it was not sent (no
    // session, no shell, a termination request) or got no answer.
    bool triggerReboot();
    virtual bool checkSSHEnabled() = 0;

    // Logs "Sending '%s'." (debug), writes the command and the line end and,
    // when an expected text is given, waits for the reply and judges it. A
    // command holding a control character that the channel did not put
    // there itself (the line end is the transport's; on qx.CLI the process
    // switch 0x10 may open or close a command) is not sent at all: a line
    // break would make the rest of it a command of its own. The result is
    // then refused, and an error line says why without quoting the command. A
    // set logReplyAsDebug (the quiet flag) keeps the reply out of the
    // ordinary log, for commands whose echo or reply carries a secret.
    commandResult sendCmd(const std::string& command, const std::string& first, const std::string& second = "",
                          bool logReplyAsDebug = false);
    // sendCmd for a command that carries secret: the reply stays ordinary
    // traffic, with every occurrence of secret (the device's echo) logged
    // as "******".
    commandResult sendSecret(const std::string& command, const std::string& first, const std::string& secret);
    // Waits for one or two texts without sending anything.
    commandResult catchTraffic(const std::string& first, const std::string& second = "", bool logReplyAsDebug = false);
    // sendCmd for the connection's own dialogues (login, exit, reboot):
    // logs "Missing '%s' prompt!" when the prompt did not come.
    bool sendExpecting(const std::string& command, const std::string& prompt, commandResult* reply = nullptr);

    bool isConnected() const { return connected; }
    // Telnet: keep reading after a match until the device is silent.
    void setSafe(bool on) { safe = on; }
    // The silence time-out of the following waits; resetTimeout restores
    // the command time-out. Prefer ScopedTimeout.
    void setTimeout(int seconds);
    void resetTimeout();
    // Every wait also ends at its limit as a whole, however much the device
    // keeps sending: kReplyLimitFactor times the silence time-out, unless
    // a wait that legitimately lasts long (a firmware image, a large file)
    // sets its own through setWaitLimit (seconds, 0 for the multiple;
    // returns the previous setting). Prefer ScopedWaitLimit. A wait that
    // reaches it ends like a silence, with an error line of its own.
    int setWaitLimit(int seconds);
    // The limit of the following waits, in milliseconds.
    int waitLimitMs() const;
    // 30 times the command time-out (300 seconds at 10) still carries a
    // 50 MB reply at 170 kB/s, a small fraction of what a terminal or a
    // Telnet connection carries.
    static constexpr int kReplyLimitFactor = 30;
    // Test-only: a factor on every wait limit from now on (1.0 = real).
    static void setWaitLimitScale(double factor);
    const std::string& cTypeStr() const { return typeName; }
    const DeviceFamily& family() const { return deviceFamily; }
    // False once the peer is known to be gone (closed connection, ended
    // client): the logout dialogue is then skipped.
    bool peerAlive() const { return alive; }

    // The part of the qx.CLI prompt before its final "*"; "\n" on SFTP to a
    // qx.CLI device; empty on NEXA.
    std::string promptPrefix;

    // A pause that a signal cannot cut short (scaled only in tests).
    static void pauseSeconds(unsigned seconds);

protected:
    ConnectionHandler(logEngine* log, const DeviceFamily& family, const std::string& typeName);

    // Writes command plus the connection's line end. False, with the error
    // logged, when the peer is gone.
    virtual bool writeCommand(const std::string& command) = 0;
    // writeCommand after the debug line "Sending '%s'."; marks a gone peer.
    // A command refused for its control characters is not written, and
    // refusedLast tells so.
    bool send(const std::string& command);
    // The error line for text (what: "SSH-command", "Password (supplied)")
    // when it holds a control character it must not carry to the device
    // (framing: the family's 0x10 may open or close it); empty when it may
    // be sent.
    std::string controlRefusal(const std::string& text, bool framing, const std::string& what) const;
    // The result of a command that was not sent.
    commandResult unsent() const;
    // Reads device output into reply until first or second (plain texts,
    // either may be empty) arrives or the device stays silent for the
    // current time-out. Returns the wait's error message, "" when it ended
    // normally.
    // Each text counts where its AwaitedText says (a prompt only at the end
    // of what has arrived).
    virtual std::string readReply(const AwaitedText& first, const AwaitedText& second, std::string& reply) = 0;
    // text as this connection awaits it: a prompt of the family (or the
    // shell prompt learned at login) counts only at the end of the output.
    AwaitedText awaitedText(const std::string& text) const;
    // Makes seconds the silence time-out of the transport, and
    // waitLimitMs() the limit of its waits.
    virtual void applyTimeout(int seconds) = 0;
    // The error line of a wait that reached its limit after waitedMs while
    // first or second never arrived.
    std::string limitReachedMessage(const std::string& first, const std::string& second, long long waitedMs) const;

    // What the logout and the reboot leave to the transport.
    // The logout dialogue: the family's, unless the transport has its own.
    virtual DeviceFamily::Logout logoutDialogue() const { return deviceFamily.logout; }
    // Sends the last command of the logout; the session is over after it.
    virtual void sendLastCommand(const std::string& command) = 0;
    // The text that tells the reboot command arrived; empty when the
    // transport carries no shell to send it to.
    virtual std::string rebootAcknowledgement() const = 0;
    // Whether a reboot without a login still has a session to end (a
    // client that runs); otherwise it does nothing at all.
    virtual bool endsSessionWithoutLogin() const = 0;

    // catchTraffic with secret (the password just sent) masked in what is
    // logged of the reply, in case the device echoes it.
    commandResult catchTrafficMasked(const std::string& first, const std::string& second, const std::string& secret);
    // Judges one collected reply against the expected texts and logs it the
    // way every connection does.
    commandResult judgeReply(const std::string& reply, const std::string& first, const std::string& second,
                             bool logReplyAsDebug, const std::string& waitError, const std::string& secret = "");
    commandResult judgeReply(const std::string& reply, const AwaitedText& first, const AwaitedText& second,
                             bool logReplyAsDebug, const std::string& waitError, const std::string& secret = "");
    // text with every occurrence of secret replaced literally by "******".
    static std::string maskSecret(const std::string& text, const std::string& secret);
    // The qx.CLI prompt prefix is taken from the prompt that ends the reply
    // (blanks after it allowed): from the last line feed before that final
    // "*" up to it. Sets promptPrefix, promptText (prefix + "*") and the
    // family's prompts. False, with the error logged, when the reply does
    // not end in a "*" after a line feed.
    bool takePromptPrefix(const std::string& reply);
    // Switches the device shell's inactivity time-out off after a login
    // with the family's steps. False, with the missing prompt logged, when the device did
    // not answer as expected; the caller then disconnects.
    bool deactivateShellTimeout();
    // The prompt a step of a family dialogue awaits.
    const std::string& awaited(const DeviceFamily::Step& step) const;
    // The end of every disconnect and reboot: releases the transport via
    // release, flushes the pending traffic line and pauses 2 seconds.
    void finishSession();
    virtual void release() = 0;
    // Whether disconnect may still hold the logout dialogue: logged in, the
    // peer not known to be gone and no termination requested. Otherwise the
    // dialogue would only wait out the silence time-out for every step.
    bool logoutPossible() const;

    logEngine* log;
    DeviceFamily deviceFamily;
    std::string typeName;
    std::string promptText;  // the shell prompt, refined by the prompt prefix
    int connectTimeout = 0;
    int commandTimeout = 10;
    int silenceTimeout = 10;   // the current silence time-out, seconds
    int waitLimitSeconds = 0;  // 0: kReplyLimitFactor times silenceTimeout
    bool connected = false;
    bool safe = false;
    bool alive = true;
    bool refusedLast = false;  // the last send refused its command
    // A wait of this session reached its limit: the device kept sending
    // without ever showing what was awaited. Its logout is not held (each
    // step would wait another whole limit) and its reboot not awaited.
    bool babbling = false;
};

// Raises a connection's silence time-out for one slow command and restores
// the command time-out on every way out of the scope.
class ScopedTimeout {
public:
    ScopedTimeout(ConnectionHandler& handler, int seconds) : handler(handler) { handler.setTimeout(seconds); }
    ~ScopedTimeout() { handler.resetTimeout(); }
    ScopedTimeout(const ScopedTimeout&) = delete;
    ScopedTimeout& operator=(const ScopedTimeout&) = delete;

private:
    ConnectionHandler& handler;
};

// Gives the waits of one long operation a limit of their own and restores
// the previous one on every way out of the scope.
class ScopedWaitLimit {
public:
    ScopedWaitLimit(ConnectionHandler& handler, int seconds) : handler(handler), saved(handler.setWaitLimit(seconds)) {}
    ~ScopedWaitLimit() { handler.setWaitLimit(saved); }
    ScopedWaitLimit(const ScopedWaitLimit&) = delete;
    ScopedWaitLimit& operator=(const ScopedWaitLimit&) = delete;

private:
    ConnectionHandler& handler;
    int saved;
};
