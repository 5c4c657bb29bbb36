#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

// FreeLoopbackPort: a port on 127.0.0.1 that was free a moment ago, for a server in another
// process that takes its port on the command line (nginx, pelmar-service). Our own servers bind
// port 0 themselves instead.
// Ownership: nothing is kept; the probe socket is closed before the call returns.
// Threads: thread-safe.
// Errors: throws std::runtime_error when no loopback socket can be bound. Another process may take
//     the port before the caller's server binds it: callers retry with a new port on a busy one.

namespace pelmar::test {

inline uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0
                       && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!bound) {
        throw std::runtime_error("no free loopback port");
    }
    return ntohs(address.sin_port);
}

}  // namespace pelmar::test
