#pragma once
#include <cstddef>
#include <mutex>
#include <string>

#include "sim/UniqueFd.h"

// Transcript appends what the device was told and what it answered to one
// file, one entry a line, so tests can assert on the dialogue:
//
//   2024-05-01 12:00:00.123 telnet#1 <<< t 0
//   2024-05-01 12:00:00.124 telnet#1 >>> \r\nrouter1:admin>
//   2024-05-01 12:00:00.200 telnet#1 --- closed
//
// "<<<" is a line received, ">>>" a reply sent, "---" an event. The text
// is escaped: \r \n \t \\ and \xNN for other control and non-ASCII bytes,
// so an entry never spans lines. Entries longer than maxEntryBytes of raw
// text are cut and say how much was left out. Every entry is written with
// one append, so entries of parallel sessions never interleave and an
// entry survives the process being killed right after it.
class Transcript {
public:
    static constexpr size_t maxEntryBytes = 65536;

    explicit Transcript(const std::string& path);
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    bool ok() const { return fd_.valid(); }
    void received(const std::string& session, const std::string& text) { write(session, "<<<", text); }
    void sent(const std::string& session, const std::string& text) { write(session, ">>>", text); }
    void event(const std::string& session, const std::string& text) { write(session, "---", text); }

    // The escaping used for entries.
    static std::string escape(const std::string& raw);

private:
    void write(const std::string& session, const char* mark, const std::string& text);

    std::mutex mutex_;
    UniqueFd fd_;
};
