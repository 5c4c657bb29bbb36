#include "testing/ScriptedHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace pelmar::test {
namespace {

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

const char* reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 304:
            return "Not Modified";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

}  // namespace

std::optional<std::string> ScriptedRequest::header(const std::string& name) const {
    const std::string wanted = lower(name);
    for (const auto& [key, value] : headers) {
        if (lower(key) == wanted) {
            return value;
        }
    }
    return std::nullopt;
}

ScriptedHttpServer::ScriptedHttpServer(Handler handler)
    : ScriptedHttpServer(std::move(handler), "127.0.0.1") {}

ScriptedHttpServer::ScriptedHttpServer(Handler handler, std::string host)
    : handler_(std::move(handler)), address_(std::move(host)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (::inet_pton(AF_INET, address_.c_str(), &address.sin_addr) != 1
        || (ntohl(address.sin_addr.s_addr) >> 24) != 127) {
        throw std::runtime_error("ScriptedHttpServer listens on loopback only, not " + address_);
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0
        || ::listen(listenFd_, 128) != 0
        || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0
        || ::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        const std::string why = std::strerror(errno);
        if (listenFd_ >= 0) {
            ::close(listenFd_);
        }
        throw std::runtime_error("ScriptedHttpServer cannot listen: " + why);
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer() {
    stop();
}

std::string ScriptedHttpServer::url(const std::string& path) const {
    return "http://" + address_ + ":" + std::to_string(port_) + path;
}

std::vector<ScriptedRequest> ScriptedHttpServer::requests() const {
    pelmar::MutexLock lock(mutex_);
    return requests_;
}

void ScriptedHttpServer::stop() {
    std::vector<std::thread> connections;
    {
        pelmar::MutexLock lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        for (const int fd : connectionFds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    const char wake = 1;
    (void)!::write(wakeFds_[1], &wake, 1);
    acceptThread_.join();
    {
        pelmar::MutexLock lock(mutex_);
        connections.swap(connections_);
    }
    for (auto& thread : connections) {
        thread.join();
    }
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

void ScriptedHttpServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        pelmar::MutexLock lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        const int now = ++open_;
        int peak = peak_.load();
        while (now > peak && !peak_.compare_exchange_weak(peak, now)) {
        }
        connectionFds_.push_back(fd);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

void ScriptedHttpServer::serve(int fd) {
    std::string buffer;
    char chunk[16384];
    bool keepAlive = true;
    while (keepAlive) {
        std::size_t headEnd;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                keepAlive = false;
                break;
            }
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
        if (!keepAlive) {
            break;
        }
        ScriptedRequest request;
        const std::string head = buffer.substr(0, headEnd);
        buffer.erase(0, headEnd + 4);
        std::size_t lineEnd = head.find("\r\n");
        const std::string requestLine = head.substr(0, lineEnd);
        const std::size_t space1 = requestLine.find(' ');
        const std::size_t space2 = requestLine.find(' ', space1 + 1);
        request.method = requestLine.substr(0, space1);
        request.target = requestLine.substr(space1 + 1, space2 - space1 - 1);
        while (lineEnd != std::string::npos) {
            const std::size_t next = head.find("\r\n", lineEnd + 2);
            const std::string line = head.substr(lineEnd + 2, next - lineEnd - 2);
            lineEnd = next;
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos) {
                continue;
            }
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            request.headers.emplace_back(line.substr(0, colon), value);
        }
        // Request bodies are read and recorded.
        if (const auto length = request.header("Content-Length")) {
            const auto size = static_cast<std::size_t>(std::stoull(*length));
            while (buffer.size() < size) {
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0) {
                    break;
                }
                buffer.append(chunk, static_cast<std::size_t>(n));
            }
            request.body = buffer.substr(0, std::min(size, buffer.size()));
            buffer.erase(0, std::min(size, buffer.size()));
        }
        {
            pelmar::MutexLock lock(mutex_);
            requests_.push_back(request);
        }
        ScriptedReply reply = handler_(request);
        const bool lies = reply.contentLength
                          && *reply.contentLength != static_cast<int64_t>(reply.body.size());
        keepAlive = !lies && !reply.cutAfter
                    && lower(request.header("Connection").value_or("")) != "close";
        std::string out =
                "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) + "\r\n";
        for (const auto& [name, value] : reply.headers) {
            out += name + ": " + value + "\r\n";
        }
        if (reply.chunked) {
            out += "Transfer-Encoding: chunked\r\n";
        } else {
            out += "Content-Length: "
                   + std::to_string(
                           reply.contentLength.value_or(static_cast<int64_t>(reply.body.size())))
                   + "\r\n";
        }
        out += keepAlive ? "\r\n" : "Connection: close\r\n\r\n";
        if (!writeAll(fd, out.data(), out.size())) {
            break;
        }
        const std::size_t total = std::min(reply.body.size(), reply.cutAfter.value_or(SIZE_MAX));
        const std::size_t step =
                reply.writeSize > 0 ? reply.writeSize : std::max<std::size_t>(total, 1);
        bool ok = true;
        for (std::size_t sent = 0; ok && sent < total; sent += step) {
            if (reply.beforeWrite) {
                reply.beforeWrite(sent);
            }
            const std::size_t n = std::min(step, total - sent);
            if (reply.chunked) {
                char size[32];
                std::snprintf(size, sizeof size, "%zx\r\n", n);
                ok = writeAll(fd, size, std::strlen(size))
                     && writeAll(fd, reply.body.data() + sent, n) && writeAll(fd, "\r\n", 2);
            } else {
                ok = writeAll(fd, reply.body.data() + sent, n);
            }
        }
        if (ok && reply.chunked && !reply.cutAfter) {
            ok = writeAll(fd, "0\r\n\r\n", 5);
        }
        keepAlive = keepAlive && ok;
    }
    {
        pelmar::MutexLock lock(mutex_);
        connectionFds_.erase(std::remove(connectionFds_.begin(), connectionFds_.end(), fd),
                             connectionFds_.end());
        --open_;
    }
    ::close(fd);
}

}  // namespace pelmar::test
