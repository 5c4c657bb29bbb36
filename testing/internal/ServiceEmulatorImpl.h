#pragma once

#include <httplib.h>

#include <array>
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
#include "testing/internal/DataDir.h"
#include "testing/internal/EmulatorServers.h"
#include "testing/internal/EmulatorSettings.h"
#include "testing/internal/FaultScript.h"
#include "testing/internal/ServiceRoutes.h"
#include "testing/internal/TrafficCounters.h"

// ServiceEmulator::Impl: the emulator's settings, servers, data folder (with the service state),
// request log, traffic counters and fault script, shared by its files:
// ServiceEmulator.cpp (servers and the request road), ServiceEmulatorApi.cpp (the API's
// session, debugger and resource routes), ServiceEmulatorStorage.cpp (the storage host's
// uploads) and ServiceEmulatorFaults.cpp (scripted faults and held requests).
// Ownership: owned by its ServiceEmulator.
// Threads: as ServiceEmulator; members say what guards them.
// Errors: as ServiceEmulator.

namespace pelmar::test {

struct ServiceEmulator::Impl {
    explicit Impl(Options options) : settings(std::move(options)) {}

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

    internal::EmulatorSettings settings;
    // Made by start(); the service state lives in it.
    std::unique_ptr<internal::DataDir> data;
    RequestLog log;
    bool started = false;
    internal::TrafficCounters counters;
    internal::FaultScript faults;
    // Last, so that it is destroyed (its threads stopped) before what they use.
    internal::EmulatorServers servers;
};

}  // namespace pelmar::test
