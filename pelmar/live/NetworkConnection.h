#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

// NetworkConnection: a blocking IPv4 TCP connection with time-outs, the transport under the RTMP
// client. Writing to a peer that has gone never raises SIGPIPE; it fails like any other send.
// Ownership: owns its socket (-1: none) and closes it on Close and destruction.
// Threads: thread-compatible, except that one thread may Send while another Receives or waits
//          for input, and Shutdown may be called from any thread while they run.
// Errors: std::runtime_error: "unknown host: <host>", "can't open socket", "can't connect socket"
//         (refused, unreachable or not connected within the connect time-out or deadline) from
//         Connect;
//         "network send data failed" and "network send timed out" from Send; "netowrk recv data
//         failed" (peer closed, error, or no socket) and "network receive timed out" from Receive.

namespace pelmar::live {

class NetworkConnection {
public:
    using Clock = std::chrono::steady_clock;

    struct Timeouts {
        std::chrono::milliseconds connect{10000};
        // How long one Send or Receive call may take in all before it fails, however the bytes
        // trickle in or out.
        std::chrono::milliseconds send{10000};
        std::chrono::milliseconds receive{10000};
    };

    NetworkConnection() = default;

    explicit NetworkConnection(Timeouts timeouts) : timeouts_(timeouts) {}

    virtual ~NetworkConnection();

    NetworkConnection(const NetworkConnection&) = delete;
    NetworkConnection& operator=(const NetworkConnection&) = delete;

    // Closes any socket held, then connects to `host` (a dotted quad is used as it is, a name is
    // resolved to IPv4) at `port`, with TCP_NODELAY.
    void Connect(const std::string& host, unsigned short port);

    // Sends all `size` bytes within the send time-out (and the deadline, if one is set).
    void Send(const void* data, size_t size);

    // Blocks until exactly `size` bytes are read, within the receive time-out (and the deadline,
    // if one is set); returns `size`.
    size_t Receive(void* data, size_t size);

    // A point in time by which Connect, and every Send and Receive, must be done on top of their
    // own time-outs, for a sequence of steps that must finish together (a handshake); none when
    // empty.
    void SetDeadline(std::optional<Clock::time_point> deadline);

    // Bytes that can be read at once without blocking.
    size_t DataSizeInReceiveBuffer() const;

    // Waits up to `timeout` until a read would not block (bytes arrived, or the peer closed or
    // failed); false when the time passed first or there is no socket.
    bool WaitReadable(std::chrono::milliseconds timeout) const;

    // Ends sending (the peer reads end of stream) but keeps receiving.
    void ShutdownSend();

    // Ends both directions: blocked sends and receives return and fail. The socket stays open
    // until Close.
    void Shutdown();

    void Close();

    int SocketFd() const { return socketFd_.load(); }

private:
    // The end of a step that may take `timeout`, the deadline included.
    Clock::time_point StepDeadline(std::chrono::milliseconds timeout) const;

    Timeouts timeouts_;
    std::atomic<int> socketFd_{-1};
    std::atomic<Clock::rep> deadline_{0};  // time since the clock's epoch; 0: none
};

}  // namespace pelmar::live
