#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

// logEngine is the one log of a job. It keeps every line in memory (the
// whole log goes into the job-history row), can mirror each line into a
// file that operators may watch or delete while the job runs, and can
// print each line to standard output. Lines carry a time stamp and a
// facility prefix; unprintable bytes never reach the log.
//
// Facilities: 1 device traffic, 2 control, 3 database, 4 raw line,
// 100 information, 101 error, 102 debug (kept only when debug is on).
class logEngine {
public:
    enum Facility { COM = 1, CTL = 2, DB = 3, RAW = 4, INF = 100, ERR = 101, DBG = 102 };

    logEngine();
    explicit logEngine(bool debug);
    logEngine(bool debug, const std::string& fileName);  // "nofile" for none

    void setDirectPrint(bool on) { directPrint = on; }
    // While the file is held, lines are kept but not written to it yet:
    // releaseFile() writes the kept ones and goes on line by line,
    // dropFile() gives the file up unwritten. (A job writes its log file
    // only once it holds the job: a process that lost the job to another
    // must not write into the holder's file.)
    void holdFile() { fileHeld = true; }
    void releaseFile();
    void dropFile();
    // A text that must never appear in a line below debug level: from now
    // on every such line shows it as "******" (replaced literally, before
    // the line is kept, written or printed; a short one only where it
    // stands alone, see maskLiterally). Debug lines stay as they are.
    // An empty secret is ignored.
    void addSecret(const std::string& secret);
    // text with every registered secret replaced by "******".
    std::string maskSecrets(const std::string& text) const;
    // text with every occurrence of secret replaced literally by "******";
    // text itself when secret is empty. A secret of fewer than four
    // characters is replaced only where it does not continue a longer word
    // ("on" stays in "config", goes in "pw on"): short passwords weaken the
    // masking.
    static std::string maskLiterally(const std::string& text, const std::string& secret);
    bool isDebug() const { return debug; }
    const std::string& getFileName() const { return fileName; }

    // printf-style; the formatted text is cut at kLineLimit - 1 (2047) bytes.
    static constexpr size_t kLineLimit = 2048;
    void addLine(int facility, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // addLine for the arguments of a printf-style function of the caller's.
    void addLineV(int facility, const char* format, va_list args) __attribute__((format(printf, 3, 0)));
    // The printf-style text of such arguments: whole, or cut as a line is.
    static std::string format(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
    static std::string formatLine(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
    void add(int facility, const std::string& message);

    // Cuts a chunk of device traffic into lines; an unfinished last line
    // waits in pending for the next chunk or flushPending.
    void addBlob(int facility, const std::string& chunk);
    void addBlob(int facility, const char* data, size_t length);
    void flushPending(int facility);

    void fillVector(std::vector<std::string>& out) const;
    int getLines() const { return static_cast<int>(lines.size()); }
    void dumpLogStderr() const;
    void dumpLogStdout() const;
    std::string dumpAsString() const;
    void unlink();

    static void cleanup(std::string& text);
    static std::string getFacilityString(int facility);
    static std::string getTimestamp();

private:
    std::vector<std::string> lines;
    std::vector<std::string> secrets;  // longest first
    std::string pending;
    bool debug;
    std::string fileName;
    bool fileHeld = false;
    bool directPrint;
};
