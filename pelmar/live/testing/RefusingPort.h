#pragma once

#include <unistd.h>

#include <cstdint>

#include "pelmar/live/testing/LoopbackSocket.h"

// RefusingPort: a loopback TCP port that refuses every connection. It holds a socket bound to
// 127.0.0.1 at a port the system picks and never listens on it, so the port stays taken (no
// other test can get it under `ctest -j`) and a connect() to it fails with ECONNREFUSED.
// Ownership: owns the bound socket; closes it when destroyed.
// Threads: thread-compatible.
// Errors: std::runtime_error when no loopback port can be bound.

namespace pelmar::test {

class RefusingPort {
public:
    RefusingPort() { fd_ = BindLoopbackSocket(port_); }

    ~RefusingPort() { ::close(fd_); }

    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    uint16_t port() const { return port_; }

private:
    uint16_t port_ = 0;
    int fd_ = -1;
};

}  // namespace pelmar::test
