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
#include "testing/internal/EmulatorServers.h"
#include "testing/internal/FaultScript.h"
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

    Options options;
    std::filesystem::path dataDir;
    bool ownsDataDir = false;
    std::unique_ptr<internal::ServiceState> state;
    RequestLog log;
    bool started = false;
    std::atomic<bool> requireSession;
    std::atomic<int64_t> sessionCalls{0};
    std::atomic<uint64_t> incomingFiles{0};
    std::atomic<size_t> uploadsInFlight{0};
    std::atomic<size_t> maxUploadsInFlight{0};
    internal::FaultScript faults;
    // Last, so that it is destroyed (its threads stopped) before what they use.
    internal::EmulatorServers servers;
};

}  // namespace pelmar::test
