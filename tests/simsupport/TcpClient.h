#pragma once
#include <string>

#include "tests/simsupport/StreamReader.h"

namespace testsim {

// TcpClient is a raw TCP connection for tests: connect, send bytes, read
// until a plain text shows up or the peer closes. Owns its socket.
class TcpClient : public StreamReader {
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
    bool expect(const std::string& text, int timeoutMs = 10000) { return StreamReader::expect(text, timeoutMs); }
    // Reads until the peer closes; false on time-out.
    bool waitForClose(int timeoutMs = 10000) { return waitForEnd(timeoutMs); }
    const std::string& received() const { return data(); }
    bool closedByPeer() const { return ended(); }
    int lastErrno() const { return errno_; }
    void close();
    // Closes with a reset instead of an orderly end.
    void abort();

private:
    int fd_ = -1;
    int errno_ = 0;
};

}  // namespace testsim
