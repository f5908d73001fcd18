#pragma once
#include <cstddef>
#include <functional>
#include <string>

class Chaos;
class DeviceState;
class FallbackTimer;
class Transcript;
struct DevsimOptions;

// Shell is the transport-free part of a device session: the client's bytes
// go in through receive(), the device's answer comes out of takeOutput().
// It does what the terminal of either family does: the line discipline
// (CR, LF or CR LF end a line, backspace erases, overlong lines are cut),
// the echo, the login dialogue of Telnet sessions (a refusal prints the
// --refuse-login text when there is one), the --banner after every login
// (Telnet or SSH, before the first prompt), a prompt after every
// command, yes/no confirmations, and the faults that change what the
// device says. NexaShell and QxCliShell supply the texts, the prompts and
// a command table per mode.
//
// Not thread-safe; one session thread owns its shell.
class Shell {
public:
    enum class Ending { None, Close, Drop, Reboot };
    struct Context {
        std::string session;  // transcript label, e.g. "telnet#3"
        bool login = false;   // ask for user and password first (Telnet)
        bool echo = false;    // echo what is received (Telnet, pty sessions)
        std::string user;     // the user SSH authenticated (no login)
        // The device's delayed configuration command (NEXA); null on a
        // device without one. Must outlive the shell.
        FallbackTimer* fallbackTimer = nullptr;
        // The --chaos faults of the device, shared by its sessions; null
        // without them. Must outlive the shell.
        Chaos* chaos = nullptr;
    };
    static constexpr size_t maxLineBytes = 65536;

    // state, options and transcript (may be null) must outlive the shell.
    Shell(DeviceState& state, const DevsimOptions& options, Transcript* transcript, Context context);
    virtual ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    // The greeting: banner and login prompt, or banner and first prompt.
    void start();
    // Where the first prompt begins in the greeting of a shell started
    // logged in (0 for a login dialogue).
    size_t greetingPromptOffset() const { return greetingPromptOffset_; }
    void receive(const char* data, size_t length);
    void receive(const std::string& data) { receive(data.data(), data.size()); }
    // The client was idle for idleTimeoutSeconds().
    void idleExpired();

    std::string takeOutput();
    // How long the output just taken is to be held back (a slow reply of
    // the chaos faults); 0 for at once.
    int takeHoldBackMs();
    // How the session ends once the output is sent; None while it goes on.
    Ending ending() const { return ending_; }
    // 0: no idle time-out.
    int idleTimeoutSeconds() const { return silent_ ? 0 : idleTimeout_; }
    // While the device trickles (--trickle): milliseconds until its next
    // byte is due (0: now); -1 when it does not trickle. The transport
    // waits no longer than that and then calls trickle(), which puts the
    // byte into the output when it is due. The prompt never comes again.
    int trickleWaitMs() const;
    void trickle();
    bool loggedIn() const { return phase_ == Phase::Shell; }
    const std::string& user() const { return user_; }

protected:
    // Family texts and behaviour.
    virtual std::string banner() const = 0;
    virtual std::string loginPrompt() const = 0;
    virtual std::string loginFailedText() const = 0;
    virtual std::string welcome() const = 0;
    virtual std::string prompt() const = 0;
    virtual void runCommand(const std::string& line) = 0;
    // The byte 0x10: families with processes switch to the main one (a
    // pending command line runs first) and show its prompt at once;
    // others ignore the byte.
    virtual bool hasProcessSwitch() const { return false; }
    virtual void processSwitch() {}

    // For commands: the reply text comes before the prompt.
    void say(const std::string& text) { reply_ += text; }
    void sayLine(const std::string& text) { reply_ += text + "\r\n"; }
    // The session ends after this reply; promptFirst still shows the prompt.
    void end(Ending how, bool promptFirst = false);
    // Shows question instead of the prompt; the next line answers it
    // ("yes" or "y" in any case is yes).
    void confirm(const std::string& question, std::function<void(bool yes)> answer);
    void setIdleTimeout(int seconds) { idleTimeout_ = seconds; }
    // Whether a ping to target gets its replies.
    bool pingAnswered(const std::string& target) const;
    static bool startsWith(const std::string& text, const std::string& prefix);

    DeviceState& state_;
    const DevsimOptions& options_;
    Transcript* transcript_;
    const Context context_;

private:
    enum class Phase { User, Password, Shell };

    void receiveByte(unsigned char c);
    void appendToLine(unsigned char c);
    void lineEnded(const std::string& transcriptSuffix);
    void switchByte();
    void handleLine(const std::string& line, bool overlong);
    void loginLine(const std::string& line);
    void loginSucceeded();
    void shellLine(const std::string& line, bool overlong);
    // Draws the chaos fault for a command; false when the command is not
    // to run (the device went silent).
    bool chaosBeforeCommand();
    void finishReply(const std::string& line, bool command, bool withPrompt);
    void output(const std::string& text);
    std::string freshLinePrompt() const;
    std::string filler() const;

    Phase phase_ = Phase::Shell;
    std::string user_;
    std::string line_;
    std::string transcriptPrefix_;  // process-switch bytes before the line
    bool overlong_ = false;
    size_t overlongBytes_ = 0;
    bool lastWasCr_ = false;
    // A switch byte at the end of a command ends that command; the line end
    // the client sends after it is part of the same command, not an empty
    // line of its own (which would put a second, stale prompt on the wire).
    bool swallowLineEnd_ = false;
    bool silent_ = false;
    bool trickling_ = false;  // silent_ too: input is ignored, only the trickle goes out
    double nextTrickle_ = 0;  // monotonic seconds
    bool dropMidReply_ = false;  // the chaos faults cut this reply
    int holdBackMs_ = 0;
    size_t greetingPromptOffset_ = 0;
    bool promptAfterEnd_ = false;
    int idleTimeout_ = 0;
    Ending ending_ = Ending::None;
    std::function<void(bool)> pendingAnswer_;
    std::string reply_;
    std::string out_;
    char lastOutputByte_ = '\n';
};
