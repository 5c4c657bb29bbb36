#include "pelmar/host/ScreenHost.h"

#include <atomic>
#include <stdexcept>
#include <utility>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/TransitionContext.h"

namespace pelmar {

using dispatch::RunLoop;

namespace {

std::atomic<bool> gHostAlive{false};

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

ScreenHost::ScreenHost() {
    if (gHostAlive.exchange(true)) {
        throw std::logic_error("pelmar::ScreenHost: only one ScreenHost may be alive at a time");
    }
    window_ = std::make_shared<ui::Window>();
    root_ = std::make_shared<ui::ViewController>();
    window_->setRootViewController(root_);
    window_->makeKeyAndVisible();
    RunLoop::runUntilIdle();
}

ScreenHost::~ScreenHost() {
    settle();
    // A transition under way holds the screens it moves between: it ends before the window
    // closes, or they would hold each other.
    finishTransitions();
    // Closing the window lets every screen go; their clean-up may queue work of its own.
    if (ui::Application::shared().keyWindow() == window_) {
        ui::Application::shared().setKeyWindow(nullptr);
    }
    root_.reset();
    window_.reset();
    settle();
    gHostAlive.store(false);
}

std::shared_ptr<ui::ViewController> ScreenHost::topViewController() const {
    return window_->topViewController();
}

void ScreenHost::present(std::shared_ptr<ui::ViewController> screen, bool animated) {
    topViewController()->present(std::move(screen), animated);
}

bool ScreenHost::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    return RunLoop::runUntil(predicate, timeoutSeconds);
}

void ScreenHost::runFor(double seconds) {
    RunLoop::advance(seconds);
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
