#include "sim/Listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

bool toSockaddr(const std::string& address, int port, sockaddr_storage& storage, socklen_t& length) {
    memset(&storage, 0, sizeof storage);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof *v4;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof *v6;
        return true;
    }
    return false;
}

std::string describe(const sockaddr_storage& storage) {
    char text[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (storage.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&storage);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
        return std::string(text) + ":" + std::to_string(port);
    }
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
    return "[" + std::string(text) + "]:" + std::to_string(port);
}

}  // namespace

UniqueFd Listener::boundSocket(const std::string& address, int port, std::string& error, bool& busy, int& actual) {
    busy = false;
    sockaddr_storage storage;
    socklen_t length = 0;
    if (!toSockaddr(address, port, storage, length)) {
        error = address + ": not an IP address";
        return UniqueFd();
    }
    UniqueFd fd(::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
        error = std::string("socket: ") + strerror(errno);
        return UniqueFd();
    }
    int one = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (storage.ss_family == AF_INET6) setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        busy = errno == EADDRINUSE;
        error = address + " port " + std::to_string(port) + ": " + strerror(errno);
        return UniqueFd();
    }
    sockaddr_storage bound;
    socklen_t boundLength = sizeof bound;
    getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &boundLength);
    actual = bound.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port)
                                        : ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    return fd;
}

std::unique_ptr<Listener> Listener::bind(const std::string& address, int port, std::string& error, bool& busy) {
    int actual = 0;
    UniqueFd fd = boundSocket(address, port, error, busy, actual);
    if (!fd.valid()) return nullptr;
    return std::unique_ptr<Listener>(new Listener(address, actual, std::move(fd)));
}

bool Listener::setListening(bool on, std::string& error) {
    if (on == listening_) return true;
    if (on) {
        if (!socket_.valid()) {
            bool busy = false;
            int actual = 0;
            socket_ = boundSocket(address_, port_, error, busy, actual);
            if (!socket_.valid()) return false;
        }
        if (::listen(socket_.get(), 128) != 0) {
            error = address_ + " port " + std::to_string(port_) + ": listen: " + strerror(errno);
            return false;
        }
        listening_ = true;
        return true;
    }
    // A listening socket cannot stop listening; a fresh socket bound to the
    // same port takes its place.
    socket_.reset();
    listening_ = false;
    bool busy = false;
    int actual = 0;
    socket_ = boundSocket(address_, port_, error, busy, actual);
    return socket_.valid();
}

UniqueFd Listener::accept(std::string& peer) {
    sockaddr_storage storage;
    socklen_t length = sizeof storage;
    int fd;
    do {
        fd = ::accept4(socket_.get(), reinterpret_cast<sockaddr*>(&storage), &length, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) peer = describe(storage);
    return UniqueFd(fd);
}
