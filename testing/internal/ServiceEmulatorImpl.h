#pragma once

#include <httplib.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"
#include "testing/RequestLog.h"
#include "testing/ServiceEmulator.h"
#include "testing/internal/Answer.h"
#include "testing/internal/FaultScript.h"
#include "testing/internal/HttpServer.h"
#include "testing/internal/ServiceRoutes.h"
#include "testing/internal/ServiceState.h"

// ServiceEmulator::Impl: the emulator's servers, state, request log and fault script, shared by
// its files:
// ServiceEmulator.cpp (servers and the request road), ServiceEmulatorApi.cpp (the API's
// session, debugger and resource routes), ServiceEmulatorStorage.cpp (the storage host's
// uploads) and ServiceEmulatorFaults.cpp (scripted faults and held requests).
// Ownership: owned by its ServiceEmulator.
// Threads: as ServiceEmulator; members say what guards them.
// Errors: as ServiceEmulator.

namespace pelmar::test {

struct ServiceEmulator::Impl {
    struct Endpoint {
        Role role = Role::Api;
        std::string address;
        int port = 0;
        std::unique_ptr<internal::HttpServer> server;
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    explicit Impl(Options opts)
        : options(std::move(opts)), requireSession(options.requireSession) {}

    void handle(Role role,
                const httplib::Request& request,
                httplib::Response& response,
                const httplib::ContentReader* reader);
    std::optional<internal::Answer> checkSession(const internal::Route& route,
                                                 const LoggedRequest& entry) const;
    internal::Answer dispatch(const internal::Route& route,
                              const LoggedRequest& entry,
                              std::string body);
    internal::Answer debugger(const internal::Route& route, const std::string& body);
    internal::Answer receiveUpload(const internal::Route& route,
                                   const httplib::Request& request,
                                   const httplib::ContentReader& reader,
                                   LoggedRequest& entry,
                                   std::optional<uint64_t> cutAfter,
                                   bool& cut);
    // Binds `endpoint` to `port` (0: any free port) and starts its thread; throws on a bind
    // failure.
    void startEndpoint(Endpoint& endpoint, uint16_t port);
    // Stops and joins the servers started so far.
    void stopEndpoints();

    Options options;
    std::filesystem::path dataDir;
    bool ownsDataDir = false;
    std::unique_ptr<internal::ServiceState> state;
    RequestLog log;
    std::array<Endpoint, 5> endpoints;
    bool started = false;
    std::atomic<bool> requireSession;
    std::atomic<int64_t> sessionCalls{0};
    std::atomic<uint64_t> incomingFiles{0};
    std::atomic<size_t> uploadsInFlight{0};
    std::atomic<size_t> maxUploadsInFlight{0};
    internal::FaultScript faults;
};

}  // namespace pelmar::test
