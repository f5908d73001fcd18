#include "tests/simsupport/TcpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testsim {

bool TcpClient::connect(const std::string& address, int port, int timeoutMs) {
    close();
    restart(-1);
    sockaddr_in target;
    memset(&target, 0, sizeof target);
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) return false;
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return false;
    int rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&target), sizeof target);
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p = {fd_, POLLOUT, 0};
        if (poll(&p, 1, timeoutMs) == 1) {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
            errno = error;
            rc = error == 0 ? 0 : -1;
        } else {
            errno = ETIMEDOUT;
        }
    }
    if (rc != 0) {
        errno_ = errno;
        close();
        return false;
    }
    restart(fd_);
    return true;
}

bool TcpClient::send(const std::string& bytes) {
    size_t done = 0;
    long long deadline = nowMs() + 30000;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            if (nowMs() > deadline) return false;
            // drain what the device sends meanwhile, or both sides block
            readSome(10);
            continue;
        }
        errno_ = errno;
        return false;
    }
    return true;
}

void TcpClient::abort() {
    if (fd_ < 0) return;
    linger hard = {1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close();
}

void TcpClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    readFd_ = -1;
}

}  // namespace testsim
