#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing/NginxProcess.h"
#include "testing/Patience.h"

// NginxHttpServer: a real HTTP file server for tests: nginx serving the files of root() on a free
// loopback port (see NginxProcess), with byte ranges, If-Range, a strong ETag (modification
// time and size), Last-Modified and "Accept-Ranges: bytes". When made with a rate, the same
// files are also served under "/slow/" at that many bytes per second. Under "/noranges/" the same
// files come whole (200) whatever range is asked for (at the rate, when made with one). Every
// answered request is written to an access log that requests() reads.
// Before Start, RequireBasicAuth puts the same files under "/private/" for one user only, and
// UseTLS serves everything over HTTPS with a self-signed certificate made by `openssl` at Start.
// Ownership: owns its NginxProcess (the child process and the folder with root()).
// Threads: thread-compatible.
// Errors: std::runtime_error from Start when nginx is missing, the certificate cannot be made, or
//     nginx does not come up on any of a few ports.

namespace pelmar::test {

// One line of the access log: what a client asked for and what it got.
struct NginxRequest {
    std::string uri;
    int status = 0;
    std::optional<std::string> range;    // the "Range" header
    std::optional<std::string> ifRange;  // the "If-Range" header
    int64_t bodyBytes = 0;               // body bytes sent
};

class NginxHttpServer {
public:
    // `slowBytesPerSecond`: the rate of the "/slow/" location; none gives no such location.
    explicit NginxHttpServer(std::optional<int64_t> slowBytesPerSecond = std::nullopt)
        : slowBytesPerSecond_(slowBytesPerSecond) {}

    NginxHttpServer(const NginxHttpServer&) = delete;
    NginxHttpServer& operator=(const NginxHttpServer&) = delete;

    static bool Available() { return NginxProcess::Available(); }

    // "/private/" answers 401 with `WWW-Authenticate: Basic realm="<realm>"` to anyone but
    // `user` with `password`.
    void RequireBasicAuth(std::string realm, std::string user, std::string password);

    // HTTPS with a certificate for 127.0.0.1 that no authority signed.
    void UseTLS() { tls_ = true; }

    // The certificate (PEM) once started with TLS.
    std::string Certificate() const;

    void Start();

    void Stop() { process_.Stop(); }

    uint16_t port() const { return process_.port(); }

    // The served folder (empty before Start); files may be added and replaced at any time.
    const std::filesystem::path& root() const { return root_; }

    // http://127.0.0.1:<port><path> (https with TLS); `path` starts with "/".
    std::string Url(const std::string& path) const;

    // The requests answered so far, in the order nginx finished them.
    std::vector<NginxRequest> requests() const;

    // Waits (without sleeping) until `done` holds for the requests nginx has finished; false
    // when the time ran out first.
    bool WaitForRequests(const std::function<bool(const std::vector<NginxRequest>&)>& done,
                         std::chrono::milliseconds timeout = kPatience);

    // The error log, for failure messages.
    std::string Log() const { return process_.Log(); }

private:
    struct BasicAuth {
        std::string realm;
        std::string user;
        std::string password;
    };

    const std::optional<int64_t> slowBytesPerSecond_;
    std::optional<BasicAuth> basicAuth_;
    bool tls_ = false;
    NginxProcess process_;
    std::filesystem::path root_;
};

}  // namespace pelmar::test
