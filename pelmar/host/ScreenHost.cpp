#include "pelmar/host/ScreenHost.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/TransitionContext.h"

namespace pelmar {

using dispatch::RunLoop;

namespace {

std::atomic<bool> gHostAlive{false};

// A device's display refreshes at 60 Hz: a screen that appears is displayed within this much
// clock time.
constexpr double kFrameSeconds = 1.0 / 60;

// Runs one step of closing (`what`) for the destructor, which must not throw: what a main-queue
// block threw goes to the log, and the step is tried again (the block is gone, so the loop gets
// past it) up to a few times.
template <class Step>
void closingStep(const char* what, Step step) {
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string error;
        try {
            step();
            return;
        } catch (const std::exception& e) {
            error = e.what();
        } catch (...) {
            error = "an exception that is not a std::exception";
        }
        foundation::Log::write(std::string("pelmar::ScreenHost: a main-queue block threw while ")
                               + what + ": " + error);
    }
}

// Every screen of the chain that starts at `root`, with the children of each.
bool anyController(const std::shared_ptr<ui::ViewController>& root,
                   const std::function<bool(ui::ViewController&)>& visit) {
    std::function<bool(ui::ViewController&)> walk = [&](ui::ViewController& c) {
        if (visit(c)) {
            return true;
        }
        const auto children = c.children();
        for (const auto& child : children) {
            if (walk(*child)) {
                return true;
            }
        }
        return false;
    };
    for (auto c = root; c; c = c->presentedViewController()) {
        if (walk(*c)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ScreenHost::Claim::Claim() {
    if (!RunLoop::mayRunOnThisThread()) {
        throw std::logic_error(
                "pelmar::ScreenHost: made on a thread other than the main thread; make it on "
                "the thread that runs the main loop");
    }
    if (gHostAlive.exchange(true)) {
        throw std::logic_error("pelmar::ScreenHost: only one ScreenHost may be alive at a time");
    }
}

ScreenHost::Claim::~Claim() {
    gHostAlive.store(false);
}

ScreenHost::ScreenHost() {
    window_ = std::make_shared<ui::Window>();
    root_ = std::make_shared<ui::ViewController>();
    window_->setRootViewController(root_);
    window_->makeKeyAndVisible();
    try {
        RunLoop::runUntilIdle();
    } catch (...) {
        closeWindow();
        throw;
    }
}

ScreenHost::~ScreenHost() {
    closingStep("the host settled before closing", [] { settle(); });
    // A transition under way holds the screens it moves between: it ends before the window
    // closes, or they would hold each other.
    closingStep("transitions ended before closing", [this] { finishTransitions(); });
    closeWindow();
    closingStep("the host settled after closing", [] { settle(); });
}

void ScreenHost::closeWindow() {
    // Closing the window lets every screen go; their clean-up may queue work of its own.
    if (ui::Application::shared().keyWindow() == window_) {
        ui::Application::shared().setKeyWindow(nullptr);
    }
    root_.reset();
    window_.reset();
}

std::shared_ptr<ui::ViewController> ScreenHost::topViewController() const {
    return window_->topViewController();
}

void ScreenHost::present(std::shared_ptr<ui::ViewController> screen, bool animated) {
    topViewController()->present(std::move(screen), animated);
}

bool ScreenHost::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    return RunLoop::runUntil(
            [&] {
                displayAppearedScreens();
                return predicate();
            },
            timeoutSeconds);
}

void ScreenHost::runFor(double seconds) {
    const auto clock = dispatch::installedClock();
    if (std::isnan(seconds) || seconds < 0 || std::isinf(seconds)) {
        RunLoop::runFor(seconds);  // refuses them, or runs for ever on a real clock
        return;
    }
    const double end = clock->now() + seconds;
    displayAppearedScreens();
    if (!clock->isManual()) {
        // As RunLoop::runFor: once the time is up, the work that is ready still runs.
        RunLoop::runUntil(
                [&] {
                    displayAppearedScreens();
                    return clock->now() >= end && RunLoop::runUntilIdle() == 0;
                },
                seconds);
        return;
    }
    // Frame by frame, each frame moving the clock with every timer firing at its own time.
    for (;;) {
        const double left = std::max(0.0, end - clock->now());
        RunLoop::advance(std::min(kFrameSeconds, left));
        displayAppearedScreens();
        if (left <= kFrameSeconds || dispatch::installedClock() != clock) {
            return;
        }
    }
}

bool ScreenHost::settle(double timeoutSeconds) {
    // Background work is idle first; then a main-loop pass that runs nothing proves that nothing
    // it could have handed to the background arrived in between.
    return RunLoop::runUntil(
            [&] {
                const bool idle = dispatch::backgroundQueuesAreIdle()
                                  && av::AssetWriter::pendingWorkInAllWriters() == 0;
                return RunLoop::runUntilIdle() == 0 && idle;
            },
            timeoutSeconds);
}

void ScreenHost::displayAppearedScreens() {
    if (!window_) {
        return;
    }
    std::vector<std::weak_ptr<ui::ViewController>> appeared;
    bool fresh = false;
    anyController(root_, [&](ui::ViewController& c) {
        if (c.isAppeared()) {
            auto screen = c.weak_from_this();
            fresh = fresh
                    || std::none_of(appeared_.begin(), appeared_.end(), [&](const auto& seen) {
                           return !seen.owner_before(screen) && !screen.owner_before(seen);
                       });
            appeared.push_back(std::move(screen));
        }
        return false;
    });
    appeared_ = std::move(appeared);
    if (fresh) {
        (void)ui::render(*window_, 1);
    }
}

bool ScreenHost::anyScreen(const std::function<bool(ui::ViewController&)>& visit) const {
    return anyController(root_, visit);
}

bool ScreenHost::finishTransitions() {
    constexpr int kMaxSteps = 10;
    for (int i = 0; i < kMaxSteps; ++i) {
        bool underWay = false;
        anyController(root_, [&](ui::ViewController& c) {
            if (auto transition = c.transitionInProgress()) {
                underWay = true;
                if (transition->isInteractive()) {
                    transition->finishInteractiveTransition();
                }
            }
            return false;
        });
        if (!underWay) {
            return true;
        }
        runFor(ui::TransitionContext::kStandardDuration);
        settle();
        displayAppearedScreens();
    }
    return false;
}

std::optional<std::string> ScreenHost::tap(ui::Point point) {
    return ui::tap(*window_, point);
}

std::optional<std::string> ScreenHost::tap(ui::View& view) {
    return ui::tap(view);
}

std::shared_ptr<image::Bitmap> ScreenHost::render(double scale) const {
    return ui::render(*window_, scale);
}

std::optional<Error> ScreenHost::snapshot(const std::filesystem::path& path, double scale) const {
    return ui::snapshot(*window_, path, scale);
}

av::CaptureEnvironment& ScreenHost::devices() {
    return av::CaptureEnvironment::shared();
}

}  // namespace pelmar
