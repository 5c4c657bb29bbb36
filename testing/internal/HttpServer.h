#pragma once

#include <httplib.h>
#include <sys/socket.h>

// HttpServer: httplib's server with access to its listening socket, so the emulator can widen the
// accept backlog that the packaged library fixes at 5 (bursts of concurrent first requests would
// otherwise wait for SYN retries).
// Ownership: as httplib::Server.
// Threads: as httplib::Server (listen on one thread, stop from another).
// Errors: widenBacklog() returns false when the socket is not listening.

namespace pelmar::test::internal {

class HttpServer : public httplib::Server {
public:
    bool widenBacklog(int backlog) {
        const int socket = svr_sock_;
        return socket != INVALID_SOCKET && ::listen(socket, backlog) == 0;
    }
};

}  // namespace pelmar::test::internal
