#pragma once

#include <httplib.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "testing/ServiceTypes.h"
#include "testing/internal/HttpServer.h"

// EmulatorServers: the emulator's five HTTP servers, one per role on its own loopback address,
// each on its own thread: binding them (each on a free port, all on one free port, or all on a
// given port), and stopping and joining them.
// Ownership: a value inside the emulator; owns its servers and threads; the destructor stops them.
// Threads: start() and stop() belong to the owner (not concurrent with each other); address() and
//     port() are read-only after start(). The handler runs on the servers' worker threads.
// Errors: start() throws std::runtime_error when an address cannot be bound (after stopping what it
//     started).

namespace pelmar::test::internal {

class EmulatorServers {
public:
    // (role, request, response, body reader or null for a request without a body).
    using Handler = std::function<void(
            Role, const httplib::Request&, httplib::Response&, const httplib::ContentReader*)>;

    EmulatorServers();
    ~EmulatorServers();
    EmulatorServers(const EmulatorServers&) = delete;
    EmulatorServers& operator=(const EmulatorServers&) = delete;

    // `port` 0: a free port per address, or with `onePort` one free port for all (tried a few
    // times); otherwise all five bind `port`.
    void start(uint16_t port, bool onePort, const Handler& handler);

    // Stops and joins the servers started so far. Idempotent.
    void stop();

    const std::string& address(Role role) const;

    int port(Role role) const;

private:
    struct Endpoint {
        Role role = Role::Api;
        std::string address;
        int port = 0;
        std::unique_ptr<HttpServer> server;
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    // Binds `endpoint` to `port` (0: any free port) and starts its thread; throws on a bind
    // failure.
    void startOne(Endpoint& endpoint, uint16_t port, const Handler& handler);

    std::array<Endpoint, 5> endpoints_;
};

}  // namespace pelmar::test::internal
