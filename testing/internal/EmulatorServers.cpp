#include "testing/internal/EmulatorServers.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "testing/internal/ElasticTaskQueue.h"
#include "testing/internal/ServiceRoutes.h"

namespace pelmar::test::internal {

namespace {

constexpr size_t kWorkersPerAddress = 256;
constexpr int kListenBacklog = 512;
constexpr time_t kKeepAliveSeconds = 2;
constexpr size_t kKeepAliveRequests = 1000;
constexpr const char* kAnyPath = R"([\s\S]*)";
constexpr int kOnePortAttempts = 20;

// An address that could not be bound.
class BindError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace

EmulatorServers::EmulatorServers() {
    for (size_t i = 0; i < endpoints_.size(); ++i) {
        endpoints_[i].role = kAllRoles[i];
        endpoints_[i].address = addressOf(kAllRoles[i]);
    }
}

EmulatorServers::~EmulatorServers() {
    stop();
}

void EmulatorServers::start(uint16_t port, bool onePort, const Handler& handler) {
    for (int attempt = 1;; ++attempt) {
        try {
            // With one shared port, the first address picks it and the others follow; another
            // program may hold it on one of them, so a new port is tried a few times.
            uint16_t next = port;
            for (auto& endpoint : endpoints_) {
                startOne(endpoint, next, handler);
                if (onePort) {
                    next = static_cast<uint16_t>(endpoint.port);
                }
            }
            return;
        } catch (const BindError&) {
            stop();
            if (!onePort || port != 0 || attempt == kOnePortAttempts) {
                throw;
            }
        }
    }
}

void EmulatorServers::stop() {
    for (auto& endpoint : endpoints_) {
        if (endpoint.server) {
            endpoint.server->stop();
        }
    }
    for (auto& endpoint : endpoints_) {
        if (endpoint.thread.joinable()) {
            endpoint.thread.join();
        }
        endpoint.server.reset();
    }
}

const std::string& EmulatorServers::address(Role role) const {
    return endpoints_[static_cast<size_t>(role)].address;
}

int EmulatorServers::port(Role role) const {
    return endpoints_[static_cast<size_t>(role)].port;
}

void EmulatorServers::startOne(Endpoint& endpoint, uint16_t port, const Handler& handler) {
    auto server = std::make_unique<HttpServer>();
    server->new_task_queue = [] { return new ElasticTaskQueue(kWorkersPerAddress); };
    server->set_keep_alive_timeout(kKeepAliveSeconds);
    server->set_keep_alive_max_count(kKeepAliveRequests);
    server->set_tcp_nodelay(true);
    // httplib's default also sets SO_REUSEPORT, which lets a second emulator listen on the same
    // port and take half of the connections; an address in use must fail the bind instead.
    server->set_socket_options([](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server->set_exception_handler(
            [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
                response.status = 500;
                response.set_content(R"({"error":"emulator error"})", "application/json");
            });
    const Role role = endpoint.role;
    const auto plain = [handler, role](const httplib::Request& request,
                                       httplib::Response& response) {
        handler(role, request, response, nullptr);
    };
    const auto withBody = [handler, role](const httplib::Request& request,
                                          httplib::Response& response,
                                          const httplib::ContentReader& reader) {
        handler(role, request, response, &reader);
    };
    server->Get(kAnyPath, plain);
    server->Options(kAnyPath, plain);
    server->Post(kAnyPath, withBody);
    server->Put(kAnyPath, withBody);
    server->Patch(kAnyPath, withBody);
    server->Delete(kAnyPath, withBody);

    endpoint.address = addressOf(role);
    if (port != 0) {
        errno = 0;
        if (!server->bind_to_port(endpoint.address, port)) {
            const int error = errno;
            throw BindError("cannot bind " + endpoint.address + ":" + std::to_string(port)
                            + (error != 0 ? std::string(": ") + std::strerror(error) : ""));
        }
        endpoint.port = port;
    } else {
        endpoint.port = server->bind_to_any_port(endpoint.address);
        if (endpoint.port <= 0) {
            throw BindError("cannot bind " + endpoint.address);
        }
    }
    server->widenBacklog(kListenBacklog);
    endpoint.finished = std::make_shared<std::atomic<bool>>(false);
    endpoint.server = std::move(server);
    endpoint.thread = std::thread([server = endpoint.server.get(), finished = endpoint.finished] {
        server->listen_after_bind();
        *finished = true;
    });
    // stop() only takes effect on a server that is running, so wait until this one is.
    while (!endpoint.server->is_running() && !*endpoint.finished) {
        std::this_thread::yield();
    }
}

}  // namespace pelmar::test::internal
