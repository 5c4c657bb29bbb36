#include "pelmar/live/NetworkConnection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace pelmar::live {

namespace {

int Milliseconds(std::chrono::milliseconds d) {
    return d.count() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(d.count() < 0 ? 0 : d.count());
}

// Whole milliseconds left until `deadline`, rounded up; 0 once it has passed.
int MillisecondsUntil(NetworkConnection::Clock::time_point deadline) {
    const auto left = deadline - NetworkConnection::Clock::now();
    if (left <= NetworkConnection::Clock::duration::zero()) {
        return 0;
    }
    return Milliseconds(std::chrono::ceil<std::chrono::milliseconds>(left));
}

// Waits until `fd` is ready for `events` or `deadline` passes; false when the time ran out.
// Readiness includes a hang-up or an error, which the following call then reports.
bool WaitUntil(int fd, short events, NetworkConnection::Clock::time_point deadline) {
    for (;;) {
        const int wait = MillisecondsUntil(deadline);
        if (wait == 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, wait);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return true;  // the send or receive itself reports what is wrong
        }
    }
}

in_addr Resolve(const std::string& host) {
    in_addr address{};
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) {
        return address;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
        throw std::runtime_error("unknown host: " + host);
    }
    std::memcpy(&address, &reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr,
                sizeof address);
    ::freeaddrinfo(result);
    return address;
}

// Connects the non-blocking socket `fd`, waiting at most `timeout`; true when connected.
bool ConnectWithin(int fd, const sockaddr_in& address, std::chrono::milliseconds timeout) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        return false;
    }
    pollfd p{fd, POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, Milliseconds(timeout));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

NetworkConnection::~NetworkConnection() {
    Close();
}

void NetworkConnection::Connect(const std::string& host, unsigned short port) {
    Close();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr = Resolve(host);

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        throw std::runtime_error("can't open socket");
    }
    const auto connectDeadline = StepDeadline(timeouts_.connect);
    if (!ConnectWithin(fd, address,
                       std::chrono::milliseconds(MillisecondsUntil(connectDeadline)))) {
        ::close(fd);
        throw std::runtime_error("can't connect socket");
    }
    // The socket stays non-blocking: every send and receive waits with poll() up to its own
    // deadline, so a peer that trickles bytes cannot stretch one call past its time-out.
    // Messages go out in one write each; holding their tails back for an acknowledgement would
    // only add latency.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    socketFd_.store(fd);
}

void NetworkConnection::Send(const void* data, size_t size) {
    const int fd = socketFd_.load();
    const auto* bytes = static_cast<const uint8_t*>(data);
    const auto deadline = StepDeadline(timeouts_.send);
    size_t sent = 0;
    while (sent < size) {
        if (fd < 0) {
            throw std::runtime_error("network send data failed");
        }
        // MSG_NOSIGNAL: a peer that has gone gives EPIPE here instead of killing the process.
        const ssize_t n = ::send(fd, bytes + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitUntil(fd, POLLOUT, deadline)) {
                throw std::runtime_error("network send timed out");
            }
        } else {
            throw std::runtime_error("network send data failed");
        }
    }
}

size_t NetworkConnection::Receive(void* data, size_t size) {
    const int fd = socketFd_.load();
    auto* bytes = static_cast<uint8_t*>(data);
    const auto deadline = StepDeadline(timeouts_.receive);
    size_t received = 0;
    while (received < size) {
        if (fd < 0) {
            throw std::runtime_error("netowrk recv data failed");
        }
        const ssize_t n = ::recv(fd, bytes + received, size - received, MSG_DONTWAIT);
        if (n > 0) {
            received += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitUntil(fd, POLLIN, deadline)) {
                throw std::runtime_error("network receive timed out");
            }
        } else {
            throw std::runtime_error("netowrk recv data failed");
        }
    }
    return received;
}

void NetworkConnection::SetDeadline(std::optional<Clock::time_point> deadline) {
    deadline_.store(deadline ? deadline->time_since_epoch().count() : 0);
}

NetworkConnection::Clock::time_point NetworkConnection::StepDeadline(
        std::chrono::milliseconds timeout) const {
    const auto own = Clock::now() + timeout;
    const auto overall = deadline_.load();
    if (overall == 0) {
        return own;
    }
    return std::min(own, Clock::time_point(Clock::duration(overall)));
}

size_t NetworkConnection::DataSizeInReceiveBuffer() const {
    int available = 0;
    const int fd = socketFd_.load();
    if (fd < 0 || ::ioctl(fd, FIONREAD, &available) != 0 || available < 0) {
        return 0;
    }
    return static_cast<size_t>(available);
}

bool NetworkConnection::WaitReadable(std::chrono::milliseconds timeout) const {
    const int fd = socketFd_.load();
    if (fd < 0) {
        return false;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, Milliseconds(timeout));
    return ready > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLRDHUP)) != 0;
}

void NetworkConnection::ShutdownSend() {
    const int fd = socketFd_.load();
    if (fd >= 0) {
        ::shutdown(fd, SHUT_WR);
    }
}

void NetworkConnection::Shutdown() {
    const int fd = socketFd_.load();
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
    }
}

void NetworkConnection::Close() {
    const int fd = socketFd_.exchange(-1);
    if (fd >= 0) {
        ::close(fd);
    }
}

}  // namespace pelmar::live
