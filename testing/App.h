#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/host/ScreenHost.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/dispatch/ManualClock.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/testing/TempSandbox.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"
#include "testing/ScreenLook.h"

namespace pelmar::test {

// The user's answers to camera and microphone requests (the host piece's).
using Permissions = CapturePermissions;

// App: a headless application for screen tests, hosting the screens with the public ScreenHost
// as a host app does: a fresh sandbox, a manual clock at 0 s driving the main loop, the 390 x 844
// phone screen, a key window showing a root screen that has appeared, every process-wide instance
// of the SDK back to its first state (application, screen, capture hardware and permissions, writer
// fault injection, run state and background tasks, pending local notifications), the platform log
// captured, and a facade with debug logs on. The helpers act as a user would: tap() goes through
// hit-testing and fails the test with the reason a tap was refused; settle() lets queued work
// finish without moving the clock. Ownership: RAII, one at a time per process (a second live App
// aborts). It owns the window (which owns the root and what the root presents) and the facade. The
// destructor closes the window (after letting transitions under way end on the clock), settles,
// checks that the window and the root are gone, resets the shared instances again and restores a
// steady clock. Threads: main thread only (the thread that makes it becomes the main thread).
// Errors: helpers report failures to GoogleTest (ADD_FAILURE) and return false.
class App {
public:
    App();
    ~App();

    App(const App&) = delete;
    App& operator=(const App&) = delete;

    dispatch::ManualClock& clock() { return *clock_; }

    const std::filesystem::path& sandboxRoot() const { return sandbox_.root(); }

    // The capture hardware: cameras, microphones, what they produce and which steps fail.
    av::CaptureEnvironment& devices();

    Permissions& permissions() { return host_->permissions(); }

    // The host piece the screens are shown in.
    ScreenHost& host() { return *host_; }

    // The SDK facade (debug logs on), made on first use.
    const std::shared_ptr<Pelmar>& sdk();

    const std::shared_ptr<ui::Window>& window() const { return host_->window(); }

    const std::shared_ptr<ui::ViewController>& root() const { return host_->root(); }

    // The last screen of the presentation chain that starts at the root.
    std::shared_ptr<ui::ViewController> topViewController() const;

    // The first match, depth first: for a view type, among the views of the window; for a
    // controller type, along the presentation chain from the root and each one's children.
    template <typename T>
    std::shared_ptr<T> find(const std::function<bool(const T&)>& predicate = nullptr) const {
        std::shared_ptr<T> found;
        if constexpr (std::is_base_of_v<ui::View, T>) {
            visitViews(*window(), [&](ui::View& v) {
                auto t = std::dynamic_pointer_cast<T>(v.shared_from_this());
                if (t && (!predicate || predicate(*t))) {
                    found = t;
                }
                return found != nullptr;
            });
        } else {
            static_assert(std::is_base_of_v<ui::ViewController, T>, "a view or a controller");
            visitControllers([&](ui::ViewController& c) {
                auto t = std::dynamic_pointer_cast<T>(c.shared_from_this());
                if (t && (!predicate || predicate(*t))) {
                    found = t;
                }
                return found != nullptr;
            });
        }
        return found;
    }

    // A user's tap on the centre of `view`; a refused tap fails the test with the reason.
    bool tap(ui::View& view);

    template <typename V>
    bool tap(const std::weak_ptr<V>& view) {
        return tap(view.lock());
    }

    template <typename V>
    bool tap(const std::shared_ptr<V>& view) {
        if (!view) {
            ADD_FAILURE() << "tap on a view that is gone";
            return false;
        }
        return tap(static_cast<ui::View&>(*view));
    }

    // The alert on top of the screens, if one is shown.
    std::shared_ptr<ui::AlertController> shownAlert() const;

    // Taps, with a finger, the button of the action titled `title` of the alert on top; fails the
    // test when there is no alert, no such action, or the button cannot be reached.
    bool tapAlertAction(const std::string& title);

    // Runs the main loop until no queue has work it can run (background queues, the main queue,
    // movie writers) and nothing new arrives; the clock does not move. Fails the test after
    // `timeoutSeconds` of real time.
    bool settle(double timeoutSeconds = 30);

    bool runUntil(const std::function<bool()>& predicate,
                  double timeoutSeconds = dispatch::RunLoop::kDefaultTimeoutSeconds);

    // Moves the clock, firing timers and delayed work at their own times.
    void advance(double seconds);

    // Takes the caller's reference to `screen`, dismisses it if it is still presented, lets the
    // dismissal finish (moving the clock by transition steps when one is animated) and settles;
    // then the screen must be gone. Fails the test, naming the screen, when something still
    // holds it (a cycle through a strong delegate or a captured self, for example).
    bool expectFreedAfterDismiss(std::shared_ptr<ui::ViewController> screen);

    // Paints `view` into "<build folder>/snapshots/<name>" (a PNG for people to look at, never
    // compared); returns the path, or fails the test.
    std::optional<std::filesystem::path> writeSnapshot(ui::View& view, const std::string& name);

    // Checks what a user sees of `screen` (usually a screen's view) in the window now: live
    // pictures not blank and in their source's colours, at least `pictures` of them; every
    // visible control drawing something; every visible label's text in ink, except in the views
    // `ignoring` (testing/ScreenLook.h). Fails the test once per fault, naming the view.
    bool expectLooksRight(ui::View& screen,
                          int pictures = 0,
                          std::vector<const ui::View*> ignoring = {});

    // The platform log since the App was made.
    const foundation::Log::Capture& logs() const { return logs_; }

    bool logged(const std::string& text) const { return logs_.contains(text); }

    int loggedCount(const std::string& line) const;

private:
    static bool visitViews(ui::View& view, const std::function<bool(ui::View&)>& visit);
    void visitControllers(const std::function<bool(ui::ViewController&)>& visit) const;
    static void resetSharedInstances();

    TempSandbox sandbox_;
    std::shared_ptr<dispatch::ManualClock> clock_;
    foundation::Log::Capture logs_;
    std::unique_ptr<ScreenHost> host_;
    std::shared_ptr<Pelmar> sdk_;
};

}  // namespace pelmar::test
