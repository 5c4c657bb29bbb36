#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

// BindLoopbackSocket: a new TCP socket bound to 127.0.0.1 at a port the system picks, for the
// test peers that must own their port from the start (never a port found free and bound again).
// Ownership: the caller owns the returned descriptor.
// Threads: thread-safe.
// Errors: std::runtime_error when no socket can be made or bound; nothing is left open then.

namespace pelmar::test {

// Returns the bound socket; `port` receives its port.
inline int BindLoopbackSocket(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("can't bind a loopback port");
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace pelmar::test
