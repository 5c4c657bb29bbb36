#pragma once

// ScriptedHttpServer: a small HTTP/1.1 server on a loopback port chosen by the system, for tests
// and benchmarks of HTTP clients. Each request is answered by a handler the test gives; the
// answer controls the status, header fields, body, how the body is cut into writes, a
// Content-Length that lies, chunked encoding, a cut of the connection after some bytes and a hook
// before each write (where a test can hold the answer). Connections are kept alive. The server
// records every request and the peak number of connections open at once.
// Ownership: owns its listening socket and one thread per connection; stop() (or destruction)
//     closes every connection and joins every thread.
// Threads: thread-safe; handlers and hooks run on connection threads, several at once.
// Errors: the constructors throw std::runtime_error when they cannot listen.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::test {

struct ScriptedRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // as sent with a Content-Length (chunked bodies are not read)

    // The first value of `name` (ASCII case-insensitive).
    std::optional<std::string> header(const std::string& name) const;
};

struct ScriptedReply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Sent as Content-Length instead of the body's size: a lie when they differ. The connection
    // is closed after such an answer.
    std::optional<int64_t> contentLength;
    bool chunked = false;  // Transfer-Encoding: chunked instead of Content-Length
    // The body goes out in writes of this many bytes (0: one write).
    std::size_t writeSize = 0;
    // The connection is closed after this many body bytes.
    std::optional<std::size_t> cutAfter;
    // Called before each body write with the bytes written so far; may block.
    std::function<void(std::size_t sent)> beforeWrite;
};

class ScriptedHttpServer {
public:
    using Handler = std::function<ScriptedReply(const ScriptedRequest&)>;

    explicit ScriptedHttpServer(Handler handler);

    // Listens on `host`, an IPv4 loopback address such as "127.0.0.2" (every 127.x.y.z
    // answers on Linux), so that a test has a second host.
    ScriptedHttpServer(Handler handler, std::string host);

    ~ScriptedHttpServer();

    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    uint16_t port() const { return port_; }

    // "http://<address>:<port>" + path
    std::string url(const std::string& path = "/") const;

    std::vector<ScriptedRequest> requests() const;

    int peakConnections() const { return peak_.load(); }

    void stop();

private:
    void acceptLoop();

    void serve(int fd);

    Handler handler_;
    std::string address_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread acceptThread_;
    std::atomic<int> open_{0};
    std::atomic<int> peak_{0};

    mutable pelmar::Mutex mutex_;
    bool stopping_ PELMAR_GUARDED_BY(mutex_) = false;
    std::vector<int> connectionFds_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::thread> connections_ PELMAR_GUARDED_BY(mutex_);
    std::vector<ScriptedRequest> requests_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::test
