#pragma once

// ServiceFixture: a test fixture with a fresh sandbox, a clean main loop on a manual clock, the
// service emulator on loopback and a facade (app token kApp) whose endpoints point at it, with a
// RecordingUploadingDelegate set.
// Ownership: owns all of them for one test; the facade is released before the emulator stops.
// Threads: main thread only (the test's thread is the main thread).
// Errors: SetUp fails the test when the emulator cannot start.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/testing/RecordingUploadingDelegate.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "testing/ServiceEmulator.h"
#include "testing/TempSandbox.h"

namespace pelmar::test {

// Wraps a callback so that it runs on the main queue with the same arguments: tests read what
// callbacks store from the main thread, which is then the only thread touching it.
template <class F>
auto onMainQueue(F fn) {
    return [fn](auto... args) {
        dispatch::Queue::main()->async([fn, args...]() mutable { fn(std::move(args)...); });
    };
}

// A facade with the application token `appToken` whose four endpoints point at the started
// `emulator`.
std::shared_ptr<Pelmar> makeFacadeFor(const ServiceEmulator& emulator, const std::string& appToken);

class ServiceFixture : public dispatch::test::MainLoopFixture {
protected:
    static constexpr const char* kApp = "app-1";

    void SetUp() override;

    void TearDown() override;

    // Makes the facade; the fixture's SetUp calls it unless `makeFacadeInSetUp()` says no.
    void makeFacade();

    virtual bool makeFacadeInSetUp() const { return true; }

    // Pumps the main loop until `predicate` holds; fails the test past kPatience.
    void runUntil(const std::function<bool()>& predicate);

    // A file of `size` pseudo-random bytes under the sandbox root.
    std::filesystem::path writeFile(const std::string& name, size_t size);

    // Requests to the emulator other than "/session", as "METHOD role path".
    std::vector<std::string> requestLines() const;

    // A one-shot fault (or persistent) answering `status` with `body`.
    int fail(std::string method,
             Role role,
             std::string pathPattern,
             int status,
             std::string body = "{\"error\":\"scripted\"}",
             bool persistent = false);

    int hold(std::string method, Role role, std::string pathPattern);

    TempSandbox sandbox_;
    ServiceEmulator emulator_;
    std::shared_ptr<Pelmar> facade_;
    std::shared_ptr<RecordingUploadingDelegate> delegate_ =
            std::make_shared<RecordingUploadingDelegate>();
};

}  // namespace pelmar::test
