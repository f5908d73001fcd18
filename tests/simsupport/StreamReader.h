#pragma once
#include <cstddef>
#include <string>

namespace testsim {

// StreamReader collects what a non-blocking descriptor (a pty master or a
// socket) delivers and waits for plain texts in it, each search starting
// after the previous match. The descriptor belongs to the derived class;
// a read of 0 bytes or an error (EIO on a pty master once its program has
// closed the terminal) ends the stream.
class StreamReader {
public:
    // Waits until text occurs in what arrived after the previous match.
    bool expect(const std::string& text, int timeoutMs);
    // Reads until the stream ends; false on time-out.
    bool waitForEnd(int timeoutMs);
    // Reads whatever arrives within timeoutMs.
    void readFor(int timeoutMs);
    const std::string& data() const { return data_; }
    std::string unmatched() const { return data_.substr(mark_); }
    bool ended() const { return ended_; }

protected:
    ~StreamReader() = default;
    // Starts over: nothing read, the stream open on fd.
    void restart(int fd);
    // One wait of at most timeoutMs and one read; false once ended.
    bool readSome(int timeoutMs);
    static long long nowMs();

    int readFd_ = -1;

private:
    std::string data_;
    size_t mark_ = 0;
    bool ended_ = false;
};

}  // namespace testsim
