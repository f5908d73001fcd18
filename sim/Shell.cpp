#include "sim/Shell.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "sim/Chaos.h"
#include "sim/DeviceState.h"
#include "sim/DevsimOptions.h"
#include "sim/Transcript.h"

namespace {

std::string trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// A text of the command line as the terminal shows it: CR LF line ends,
// the last line ended too.
std::string terminalLines(const std::string& text) {
    std::string shown;
    for (char c : text) shown += c == '\n' ? std::string("\r\n") : std::string(1, c);
    if (!shown.empty() && shown.back() != '\n') shown += "\r\n";
    return shown;
}

double monotonicSeconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

bool isYes(const std::string& answer) {
    std::string lower;
    for (char c : trim(answer)) lower += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lower == "yes" || lower == "y";
}

}  // namespace

Shell::Shell(DeviceState& state, const DevsimOptions& options, Transcript* transcript, Context context)
    : state_(state),
      options_(options),
      transcript_(transcript),
      context_(std::move(context)),
      phase_(context_.login ? Phase::User : Phase::Shell),
      user_(context_.user),
      idleTimeout_(options.shellTimeoutSeconds) {}

Shell::~Shell() = default;

bool Shell::startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

void Shell::start() {
    reply_ = banner();
    if (phase_ == Phase::User) {
        reply_ += loginPrompt();
    } else {
        reply_ += welcome();
        reply_ += terminalLines(options_.banner);
        greetingPromptOffset_ = reply_.size();
        reply_ += freshLinePrompt();
    }
    if (transcript_)
        transcript_->event(context_.session, context_.login ? "session started" : "session started for " + user_);
    finishReply("", false, false);
}

void Shell::receive(const char* data, size_t length) {
    for (size_t i = 0; i < length && ending_ == Ending::None; ++i) receiveByte(static_cast<unsigned char>(data[i]));
}

void Shell::receiveByte(unsigned char c) {
    if (swallowLineEnd_) {
        swallowLineEnd_ = false;
        if (c == '\r') {
            lastWasCr_ = true;
            return;
        }
        if (c == '\n') return;
    }
    if (lastWasCr_) {
        lastWasCr_ = false;
        // CR LF and CR NUL end one line, not two.
        if (c == '\n' || c == '\0') return;
    }
    switch (c) {
        case '\r':
            lastWasCr_ = true;
            lineEnded("");
            return;
        case '\n':
            lineEnded("");
            return;
        case 0x10:
            switchByte();
            return;
        case 0x08:
        case 0x7f:
            if (!line_.empty() && !overlong_) {
                line_.pop_back();
                if (context_.echo && phase_ != Phase::Password && !silent_) output("\b \b");
            }
            return;
        default:
            appendToLine(c);
    }
}

void Shell::appendToLine(unsigned char c) {
    // A line is cut, not grown without bound: a client sending megabytes
    // without a line end costs the device no memory, and the cut part is
    // not echoed, so a client that does not read cannot block it.
    if (line_.size() >= maxLineBytes) {
        overlong_ = true;
        ++overlongBytes_;
        return;
    }
    line_ += static_cast<char>(c);
    if (context_.echo && phase_ != Phase::Password && !silent_ && (c >= 0x20 || c == '\t'))
        output(std::string(1, static_cast<char>(c)));
}

void Shell::lineEnded(const std::string& transcriptSuffix) {
    std::string line;
    line.swap(line_);
    bool overlong = overlong_;
    size_t cut = overlongBytes_;
    overlong_ = false;
    overlongBytes_ = 0;
    if (context_.echo && !silent_) output("\r\n");
    if (transcript_) {
        // An overlong line is ignored; its start and length are enough to
        // tell what it was.
        std::string logged = transcriptPrefix_ + (overlong ? line.substr(0, 256) : line) + transcriptSuffix;
        if (overlong) logged += "... [overlong line of " + std::to_string(line.size() + cut) + " bytes ignored]";
        transcript_->received(context_.session, logged);
    }
    transcriptPrefix_.clear();
    handleLine(line, overlong);
}

void Shell::switchByte() {
    if (phase_ != Phase::Shell || !hasProcessSwitch()) return;
    if (!line_.empty() || overlong_) {
        lineEnded("\x10");
        swallowLineEnd_ = true;
        if (ending_ != Ending::None) return;
    } else {
        transcriptPrefix_ += '\x10';
    }
    if (silent_) return;
    pendingAnswer_ = nullptr;
    processSwitch();
    reply_ = freshLinePrompt();
    finishReply("", false, false);
}

void Shell::handleLine(const std::string& line, bool overlong) {
    if (silent_) return;
    if (phase_ != Phase::Shell)
        loginLine(line);
    else
        shellLine(line, overlong);
}

void Shell::loginLine(const std::string& line) {
    reply_.clear();
    if (phase_ == Phase::User) {
        user_ = trim(line);
        if (user_.empty()) {
            say(loginPrompt());
        } else if (!state_.passwordRequired(user_)) {
            loginSucceeded();
        } else {
            phase_ = Phase::Password;
            say("Password: ");
        }
    } else if (state_.checkLogin(user_, line)) {
        loginSucceeded();
    } else {
        if (transcript_) transcript_->event(context_.session, "login failed for " + user_);
        phase_ = Phase::User;
        say(options_.loginRefusal.empty() ? loginFailedText() : terminalLines(options_.loginRefusal) + "\r\n");
        say(loginPrompt());
    }
    finishReply(line, false, false);
}

void Shell::loginSucceeded() {
    phase_ = Phase::Shell;
    if (transcript_) transcript_->event(context_.session, "logged in as " + user_);
    say(welcome());
    say(terminalLines(options_.banner));
    say(freshLinePrompt());
}

void Shell::shellLine(const std::string& line, bool overlong) {
    reply_.clear();
    std::string command = trim(line);
    if (overlong) {
        sayLine("Line too long, ignored.");
        finishReply(line, false, true);
        return;
    }
    if (pendingAnswer_) {
        auto answer = std::move(pendingAnswer_);
        pendingAnswer_ = nullptr;
        answer(isYes(command));
        finishReply(line, false, true);
        return;
    }
    if (!command.empty() && !options_.faults.silentAfter.empty() && startsWith(command, options_.faults.silentAfter)) {
        silent_ = true;
        if (transcript_) transcript_->event(context_.session, "fault: silent from now on");
        return;
    }
    if (!command.empty() && options_.faults.trickleMs > 0 &&
        (options_.faults.trickleAfter.empty() || startsWith(command, options_.faults.trickleAfter))) {
        silent_ = trickling_ = true;
        nextTrickle_ = monotonicSeconds() + options_.faults.trickleMs / 1000.0;
        if (transcript_)
            transcript_->event(context_.session, "fault: trickling one byte every " +
                                                     std::to_string(options_.faults.trickleMs) + " ms from now on");
        return;
    }
    if (!command.empty() && !chaosBeforeCommand()) return;
    if (!command.empty()) runCommand(command);
    finishReply(line, !command.empty(), true);
}

bool Shell::chaosBeforeCommand() {
    if (!context_.chaos) return true;
    int slowMs = 0;
    Chaos::Fault fault = context_.chaos->onCommand(slowMs);
    if (fault == Chaos::Fault::None) return true;
    std::string what = std::string("chaos: ") + Chaos::name(fault);
    if (fault == Chaos::Fault::Slow) what += " " + std::to_string(slowMs) + " ms";
    if (transcript_) transcript_->event(context_.session, what);
    switch (fault) {
        case Chaos::Fault::Silent:
            silent_ = true;
            return false;
        case Chaos::Fault::CloseMidReply:
            dropMidReply_ = true;
            break;
        case Chaos::Fault::Reboot:
            // After the command's own reply and prompt, unless the command
            // already ends the session.
            if (ending_ == Ending::None) end(Ending::Reboot, true);
            break;
        case Chaos::Fault::Slow:
            holdBackMs_ = slowMs;
            break;
        default:
            break;
    }
    return true;
}

void Shell::finishReply(const std::string& line, bool command, bool withPrompt) {
    bool promptAllowed = phase_ == Phase::Shell && !pendingAnswer_ && (ending_ == Ending::None || promptAfterEnd_);
    if (withPrompt && promptAllowed) {
        if (command && options_.faults.largeReplyBytes > 0) reply_ += filler();
        reply_ += freshLinePrompt();
    }
    bool cut = dropMidReply_ ||
               (!options_.faults.closeMidReply.empty() && startsWith(trim(line), options_.faults.closeMidReply));
    if (command && cut) {
        dropMidReply_ = false;
        reply_.resize(reply_.size() / 2);
        ending_ = Ending::Drop;
        if (transcript_) transcript_->event(context_.session, "fault: connection dropped in the middle of the reply");
    }
    output(reply_);
    if (transcript_ && !reply_.empty()) transcript_->sent(context_.session, reply_);
    reply_.clear();
}

void Shell::idleExpired() {
    if (silent_ || ending_ != Ending::None) return;
    reply_ = lastOutputByte_ == '\n' ? "" : "\r\n";
    reply_ += "Idle time-out, session ended.\r\n";
    ending_ = Ending::Close;
    if (transcript_) transcript_->event(context_.session, "idle time-out");
    finishReply("", false, false);
}

int Shell::trickleWaitMs() const {
    if (!trickling_ || ending_ != Ending::None) return -1;
    double left = nextTrickle_ - monotonicSeconds();
    return left <= 0 ? 0 : static_cast<int>(left * 1000) + 1;
}

void Shell::trickle() {
    if (trickleWaitMs() != 0) return;
    // A dot is no prompt of either family, nor part of one.
    output(".");
    nextTrickle_ = monotonicSeconds() + options_.faults.trickleMs / 1000.0;
}

void Shell::end(Ending how, bool promptFirst) {
    ending_ = how;
    promptAfterEnd_ = promptFirst;
}

void Shell::confirm(const std::string& question, std::function<void(bool)> answer) {
    say(question);
    pendingAnswer_ = std::move(answer);
}

bool Shell::pingAnswered(const std::string&) const {
    return !options_.faults.pingFails;
}

int Shell::takeHoldBackMs() {
    int ms = holdBackMs_;
    holdBackMs_ = 0;
    return ms;
}

std::string Shell::takeOutput() {
    std::string taken;
    taken.swap(out_);
    return taken;
}

void Shell::output(const std::string& text) {
    if (text.empty()) return;
    out_ += text;
    lastOutputByte_ = text.back();
}

std::string Shell::freshLinePrompt() const {
    char last = reply_.empty() ? lastOutputByte_ : reply_.back();
    return (last == '\n' ? "" : "\r\n") + prompt();
}

std::string Shell::filler() const {
    std::string text;
    text.reserve(options_.faults.largeReplyBytes + 64);
    char line[80];
    for (unsigned long n = 1; text.size() < options_.faults.largeReplyBytes; ++n) {
        snprintf(line, sizeof line, "filler %010lu ...............................................\r\n", n);
        text += line;
    }
    return text;
}
