#pragma once
#include <pthread.h>

#include <string>
#include <vector>

#include "util/AwaitedText.h"
#include "util/ExpectRegex.h"
#include "util/Pcre.h"

class ExpectMatcher;
class logEngine;

// Expect runs one child program on a pseudo-terminal and drives it by text:
// it writes input to the child and waits until the child's output matches
// one of a list of patterns, until the child stays silent for timeoutMs, or
// until the wait as a whole reaches limitMs.
//
// The child is "/bin/sh -c COMMAND" (spawn) or a program started with its
// arguments directly (spawnArgv), in a session and process group of its
// own, with the terminal as its controlling terminal and standard streams,
// default signal dispositions, an empty signal mask and no other descriptor
// of this process. The engine owns the child and the terminal: stop() (and
// the destructor) ends the whole group, reaps the child and closes the
// terminal, so no child outlives the engine.
//
// Output read since the last match or clear collects in the accumulator.
// A match moves the accumulator aside as lastMatchBuffer (getAccum,
// getBefore and getMatch read it) and starts an empty one; text that
// arrived in the same read after the match is not seen again. Callers clear
// the accumulator (clearAccum) after each exchange.
//
// Failures of the engine's own operations raise ExpectException; a silence
// is not a failure (the wait returns 0). Single-threaded use; the mutex only
// keeps the two places that reap the child from running into each other.
// The data members are public for inspection; only the engine changes them.
class Expect {
public:
    explicit Expect(logEngine* log);  // borrowed: null, or alive as long as the engine
    virtual ~Expect();
    Expect(const Expect&) = delete;
    Expect& operator=(const Expect&) = delete;

    // Formats the command line and starts it; a child still running from an
    // earlier spawn is stopped first. True when a child was created. The
    // buffers are left as they are.
    bool spawn(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool spawn(const std::string& command);  // the command line unchanged
    // Starts argv[0] (looked up in PATH) with the arguments directly, without
    // a shell: every argument reaches the program as one literal word, so
    // text from elsewhere can never become shell syntax. Same child set-up as
    // spawn. False for an empty argv or when no child could be created.
    bool spawnArgv(const std::vector<std::string>& argv);
    // Starts command on a new pseudo-terminal; both out descriptors receive
    // its master (one descriptor, close it once). Returns the child's pid,
    // or -1 when no child could be created. The caller owns child and master.
    int popen2(const char* command, int* outWriteFd, int* outReadFd);

    // Writes to the child. The formatted form formats first; the text forms
    // write byte for byte (a percent sign is an ordinary character).
    void send(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void send(const std::string& text);
    Expect& operator<<(const std::string& text);

    // Waits for output matching one of the patterns: the 1-based index of the
    // first pattern in list order that matches, 0 after a silence of
    // timeoutMs or at the wait limit. The silence limit applies afresh after
    // every read, the wait limit to the whole call. Output
    // kept from before (after a silence) is searched first. A pattern that
    // does not compile is logged and never matches.
    // REQUIRES: a child was spawned (else "Process not running or EOF
    // reached!"); the end of its output raises "EOF reached!".
    int expect(const std::vector<ExpectRegex>& list);
    bool expect(const ExpectRegex& regex);
    // Pattern strings ("/p/flags" or bare), ended by a null pointer.
    int expect(const char* first, ...) __attribute__((sentinel));
    // As the list form with up to two plain substrings; empty texts are left
    // out, and the result counts the non-empty ones only. After a match,
    // getMatch() gives the text found and getBefore() what preceded it; a
    // plain text has no groups for getMatch(int).
    int expect_noreg(const std::string& first, const std::string& second);
    // As expect_noreg, each text counting where AwaitedText says (a prompt
    // only at the end of the output, blanks after it allowed).
    int expectTexts(const AwaitedText& first, const AwaitedText& second);

    // One wait of at most timeoutMs: 1 when output was read, 0 on silence.
    int notBlockableRead();
    // One read of at most 512 bytes, appended to the accumulator; blocks
    // until output or the end of output arrives (call it after a wait).
    // At the end of output the child is reaped and "EOF reached!" raised.
    void readFromOutput();
    // Compiles the pattern into lastRegex and searches the accumulator.
    bool matchAccum(const ExpectRegex& regex);

    std::string getAccum() const;
    // The accumulator is set aside and an empty one started; the last match
    // is forgotten, so getMatch and getBefore give nothing stale.
    void clearAccum();
    std::string getMatch() const;
    // Captured group index (0 is the first parenthesised group) of the last
    // match; raises when there is no match or no such group.
    std::string getMatch(int index) const;
    std::string getBefore() const;

    void setTimeout(int milliseconds) { timeoutMs = milliseconds; }
    // The limit of one wait (expect, expect_noreg) as a whole, however much
    // the child keeps printing; 0 for none. A wait that reaches it returns
    // 0 like a silence, with limitReached() set.
    void setWaitLimit(int milliseconds) { limitMs = milliseconds; }
    // The last wait returned 0 at its limit, not after a silence.
    bool limitReached() const { return limitReached_; }
    // How long the last wait lasted, in milliseconds.
    long long lastWaitMs() const { return lastWaitMs_; }
    int getExitCode() const { return exitStatus; }  // the raw wait status word

    // Reaps the child and closes the terminal. A child that does not end
    // within a grace period after its output ended is ended like stop() does.
    void wait4nClose(bool lock);
    // Sends SIGTERM to the child's process group, waits a grace period for
    // the child to end, then sends SIGKILL to the group, reaps the child and
    // closes the terminal. Nothing happens when no child runs.
    void stop();

    logEngine* log;
    int pid;          // -1 when no child runs
    int writeFd;      // the terminal's master, -1 when closed
    int readFd;       // the same master
    int timeoutMs;    // silence limit of one wait
    int limitMs = 0;  // limit of one wait as a whole, 0 none
    int exitStatus;   // wait status word of the ended child, 255 before
    std::string bufferA;
    std::string bufferB;
    std::string* accum;            // output since the last match or clear
    std::string* lastMatchBuffer;  // the accumulator as it stood then
    pthread_mutex_t mutex;
    pcrepp::Pcre lastRegex;  // the pattern of the last match and where it was
    bool matched;            // the last wait ended in a match

private:
    enum class WaitResult { Silence, Readable };

    // The child set-up behind popen2 and spawnArgv: runs path with argv
    // (null-terminated; path searched in PATH when search is true).
    int startOnTerminal(const char* path, char* const* argv, bool search, int* outWriteFd, int* outReadFd);
    void writeAll(const char* data, size_t length);
    WaitResult waitReadable(int milliseconds);
    int waitForList(ExpectMatcher& matcher);
    void takeMatch(size_t start, size_t end);
    // Everything that has arrived from the child is in the accumulator:
    // nothing pending from the last read, nothing more waiting to be read.
    bool allArrivedRead();
    void forgetMatch();
    pcrepp::Pcre checkOutPattern(const ExpectRegex& regex);
    void returnPattern(pcrepp::Pcre&& compiled);
    bool lockMutex();
    void unlockMutex(bool locked);
    void endGroup();
    void reapAndClose();
    void logError(const char* format, ...) __attribute__((format(printf, 2, 3)));

    bool mutexReady_ = false;
    bool limitReached_ = false;
    long long lastWaitMs_ = 0;
    // Where the last match lies, and in which buffer (null: no match).
    const std::string* matchSubject_ = nullptr;
    size_t matchStart_ = 0;
    size_t matchEnd_ = 0;
    // Output read from the terminal but not yet handed to the accumulator:
    // the terminal is drained in large reads, the accumulator still grows
    // by at most 512 bytes per read.
    std::vector<char> pending_;
    size_t pendingPos_ = 0;
    size_t pendingEnd_ = 0;
    // Compiled patterns kept between waits: dialogues await the same
    // prompts again and again.
    std::vector<pcrepp::Pcre> patternCache_;
};
