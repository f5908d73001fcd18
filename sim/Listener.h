#pragma once
#include <memory>
#include <string>

#include "sim/UniqueFd.h"

// Listener owns a TCP socket bound to one address and port. While the
// service is down (a reboot, SSH switched off, a refused address) it keeps
// the port bound without listening: connection attempts are refused the
// way a closed port refuses them, and no other program can take the port
// in the meantime.
class Listener {
public:
    // port 0 picks a free port. nullptr with a message on failure; busy is
    // set when the port was taken.
    static std::unique_ptr<Listener> bind(const std::string& address, int port, std::string& error, bool& busy);
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    const std::string& address() const { return address_; }
    int port() const { return port_; }
    int fd() const { return socket_.get(); }
    bool listening() const { return listening_; }
    // Starts or stops accepting; false with a message on failure.
    bool setListening(bool on, std::string& error);
    // A connection that is waiting, or an invalid descriptor. peer names
    // the client ("127.0.0.1:40123").
    UniqueFd accept(std::string& peer);

private:
    Listener(std::string address, int port, UniqueFd socket)
        : address_(std::move(address)), port_(port), socket_(std::move(socket)) {}
    static UniqueFd boundSocket(const std::string& address, int port, std::string& error, bool& busy, int& actual);

    std::string address_;
    int port_;
    UniqueFd socket_;
    bool listening_ = false;
};
