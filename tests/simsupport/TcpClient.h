#pragma once
#include <string>

namespace testsim {

// TcpClient is a raw TCP connection for tests: connect, send bytes, read
// until a plain text shows up or the peer closes. Owns its socket.
class TcpClient {
public:
    TcpClient() = default;
    ~TcpClient() { close(); }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    // False when the connection fails (refused: errno ECONNREFUSED kept in
    // lastErrno()).
    bool connect(const std::string& address, int port, int timeoutMs = 5000);
    bool send(const std::string& bytes);
    // Waits until text occurs in what arrived after the previous match.
    bool expect(const std::string& text, int timeoutMs = 10000);
    // Reads until the peer closes; false on time-out.
    bool waitForClose(int timeoutMs = 10000);
    // Reads whatever arrives within timeoutMs.
    void readFor(int timeoutMs);
    const std::string& received() const { return received_; }
    std::string unmatched() const { return received_.substr(mark_); }
    bool closedByPeer() const { return closed_; }
    int lastErrno() const { return errno_; }
    void close();
    // Closes with a reset instead of an orderly end.
    void abort();

private:
    bool readSome(int timeoutMs);

    int fd_ = -1;
    bool closed_ = false;
    int errno_ = 0;
    std::string received_;
    size_t mark_ = 0;
};

}  // namespace testsim
