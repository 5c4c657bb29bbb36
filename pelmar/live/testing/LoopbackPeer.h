#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "pelmar/live/testing/LoopbackSocket.h"
#include "testing/Patience.h"

// LoopbackPeer: the far end of a test connection: listens on 127.0.0.1 at a port the system
// picks, accepts one connection, and reads and writes raw bytes with a time-out so a test that
// goes wrong fails instead of hanging. Used to script servers byte by byte.
// Ownership: owns the listening and the accepted socket.
// Threads: thread-compatible (one test thread drives it).
// Errors: std::runtime_error on socket failures, time-outs and a peer that closed early.

namespace pelmar::test {

class LoopbackPeer {
public:
    static constexpr int kTimeoutMs =
            static_cast<int>(std::chrono::milliseconds(kPatience).count());

    LoopbackPeer() {
        listener_ = BindLoopbackSocket(port_);
        if (::listen(listener_, 4) != 0) {
            ::close(listener_);
            throw std::runtime_error("can't listen on loopback");
        }
    }

    ~LoopbackPeer() {
        CloseConnection();
        ::close(listener_);
    }

    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    uint16_t port() const { return port_; }

    void Accept() {
        Wait(listener_);
        fd_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd_ < 0) {
            throw std::runtime_error("accept failed");
        }
    }

    std::vector<uint8_t> Read(size_t count) {
        std::vector<uint8_t> bytes(count);
        size_t got = 0;
        while (got < count) {
            Wait(fd_);
            const ssize_t n = ::recv(fd_, bytes.data() + got, count - got, 0);
            if (n <= 0) {
                throw std::runtime_error("peer closed while the test read");
            }
            got += static_cast<size_t>(n);
        }
        return bytes;
    }

    // True when the other side has closed (end of stream) within the time-out; bytes before the
    // end are discarded.
    bool ReadsEndOfStream() {
        uint8_t buffer[4096];
        for (;;) {
            Wait(fd_);
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0) {
                return true;
            }
            if (n < 0) {
                return errno == ECONNRESET;
            }
        }
    }

    // Every byte until the other side closes.
    std::vector<uint8_t> ReadToEnd() {
        std::vector<uint8_t> bytes;
        uint8_t buffer[4096];
        for (;;) {
            Wait(fd_);
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return bytes;
            }
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
    }

    // Up to `max` bytes as they come; 0 when the other side has closed.
    size_t ReadSome(size_t max) {
        std::vector<uint8_t> buffer(max);
        Wait(fd_);
        const ssize_t n = ::recv(fd_, buffer.data(), max, 0);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }

    // Waits up to `timeoutMs` for the other side to hang up; true when it has. Pending bytes are
    // left unread. Scripts a slow server: it gives the client this long between its steps.
    bool WaitForHangUp(int timeoutMs) {
        pollfd p{fd_, POLLRDHUP, 0};
        return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    }

    void Write(const std::vector<uint8_t>& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                throw std::runtime_error("write to the client failed");
            }
            sent += static_cast<size_t>(n);
        }
    }

    void CloseConnection() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    static void Wait(int fd) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kTimeoutMs) <= 0) {
            throw std::runtime_error("loopback peer timed out");
        }
    }

    int listener_ = -1;
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace pelmar::test
