#include "testing/App.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <typeinfo>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/app/UserNotificationCenter.h"
#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/TransitionContext.h"

namespace pelmar::test {

using dispatch::RunLoop;

namespace {

std::atomic<bool> gAppAlive{false};

std::string typeName(const ui::ViewController& controller) {
    const char* mangled = typeid(controller).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> readable(
            abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return status == 0 && readable ? readable.get() : mangled;
}

}  // namespace

void App::resetSharedInstances() {
    ui::Application::shared().reset();
    ui::Screen::main().reset();
    av::CaptureEnvironment::shared().reset();
    av::AssetWriter::failWritersAfterAppends(0);
    app::AppLifecycle::reset();
    app::UserNotificationCenter::current().removeAllPendingNotificationRequests();
    // The user defaults follow the sandbox root, which is new; the default notification centre
    // keeps no state of its own (observers go with their tokens).
}

App::App() : clock_(std::make_shared<dispatch::ManualClock>()) {
    if (gAppAlive.exchange(true)) {
        std::cerr << "pelmar::test::App: only one App may be alive at a time\n";
        std::abort();
    }
    dispatch::test::resetMainLoop(clock_);
    resetSharedInstances();
    host_ = std::make_unique<ScreenHost>();
}

App::~App() {
    settle();
    // A transition under way holds the screens it moves between: it ends before the window
    // closes, or they would hold each other.
    if (!host_->finishTransitions()) {
        ADD_FAILURE() << "a transition did not end";
    }
    // Closing the window lets every screen go; their clean-up may queue work of its own.
    std::weak_ptr<ui::Window> window = host_->window();
    std::weak_ptr<ui::ViewController> root = host_->root();
    host_.reset();
    ui::Application::shared().reset();
    sdk_.reset();
    settle();
    if (!window.expired() || !root.expired()) {
        ADD_FAILURE() << "the window or its root screen outlived the App: something still holds "
                         "them (a cycle through a screen, for example)";
    }
    resetSharedInstances();
    dispatch::test::resetMainLoop(nullptr);
    gAppAlive.store(false);
}

av::CaptureEnvironment& App::devices() {
    return host_->devices();
}

const std::shared_ptr<Pelmar>& App::sdk() {
    if (!sdk_) {
        sdk_ = std::make_shared<Pelmar>();
        sdk_->enableDebugLogs = true;
    }
    return sdk_;
}

std::shared_ptr<ui::ViewController> App::topViewController() const {
    return host_->topViewController();
}

bool App::visitViews(ui::View& view, const std::function<bool(ui::View&)>& visit) {
    if (visit(view)) {
        return true;
    }
    // A copy: a visitor may change the tree.
    const auto subviews = view.subviews();
    for (const auto& sub : subviews) {
        if (visitViews(*sub, visit)) {
            return true;
        }
    }
    return false;
}

void App::visitControllers(const std::function<bool(ui::ViewController&)>& visit) const {
    host_->anyScreen(visit);
}

bool App::tap(ui::View& view) {
    if (auto refused = host_->tap(view)) {
        ADD_FAILURE() << "the tap was refused: " << *refused;
        return false;
    }
    return true;
}

std::shared_ptr<ui::AlertController> App::shownAlert() const {
    return std::dynamic_pointer_cast<ui::AlertController>(topViewController());
}

bool App::tapAlertAction(const std::string& title) {
    auto alert = shownAlert();
    if (!alert) {
        ADD_FAILURE() << "no alert is shown (tapping \"" << title << "\")";
        return false;
    }
    // A finger on the drawn button, as a user answers: a hidden, covered or undrawn button is
    // refused as it would be on screen. The buttons stand in the order of the actions.
    const auto& actions = alert->actions();
    const auto& buttons = alert->actionButtons();
    for (std::size_t i = 0; i < actions.size() && i < buttons.size(); ++i) {
        if (actions[i].title == title) {
            return tap(buttons[i]);
        }
    }
    std::string titles;
    for (const auto& action : alert->actions()) {
        titles += (titles.empty() ? "\"" : ", \"") + action.title + "\"";
    }
    ADD_FAILURE() << "the alert \"" << alert->title() << "\" took no tap on \"" << title
                  << "\" (its actions: " << titles << ")";
    return false;
}

bool App::settle(double timeoutSeconds) {
    const bool settled = ScreenHost::settle(timeoutSeconds);
    if (!settled) {
        ADD_FAILURE() << "queued work did not settle within " << timeoutSeconds << " s";
    }
    return settled;
}

bool App::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    return RunLoop::runUntil(predicate, timeoutSeconds);
}

void App::advance(double seconds) {
    RunLoop::advance(seconds);
}

bool App::expectFreedAfterDismiss(std::shared_ptr<ui::ViewController> screen) {
    if (!screen) {
        ADD_FAILURE() << "no screen to dismiss";
        return false;
    }
    if (screen->presentingViewController() && !screen->isBeingDismissed()) {
        screen->dismiss(false);
    }
    // An animated transition under way (a presentation, or the dismissal itself) ends on the
    // clock.
    constexpr int kMaxTransitionSteps = 10;
    for (int i = 0; i < kMaxTransitionSteps; ++i) {
        if (!settle()) {
            return false;
        }
        if (!screen->presentingViewController()) {
            break;
        }
        advance(ui::TransitionContext::kStandardDuration);
    }
    if (screen->presentingViewController()) {
        ADD_FAILURE() << "the screen was not dismissed";
        return false;
    }
    const std::string name = typeName(*screen);
    std::weak_ptr<ui::ViewController> weak = screen;
    screen.reset();
    settle();
    if (!weak.expired()) {
        ADD_FAILURE() << "the dismissed screen (" << name << ") is still held by "
                      << weak.use_count() << " owner(s)";
        return false;
    }
    return true;
}

std::optional<std::filesystem::path> App::writeSnapshot(ui::View& view, const std::string& name) {
    const std::filesystem::path folder = PELMAR_SNAPSHOT_DIR;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const auto path = folder / name;
    if (auto error = ui::snapshot(view, path)) {
        ADD_FAILURE() << "the snapshot " << path << " was not written: " << error->description();
        return std::nullopt;
    }
    return path;
}

bool App::expectLooksRight(ui::View& screen, int pictures, std::vector<const ui::View*> ignoring) {
    LookExpectation expected;
    expected.pictures = pictures;
    expected.ignoring = std::move(ignoring);
    const auto faults = lookFaults(*window(), screen, expected);
    for (const auto* kind : {&faults.pictures, &faults.drawing}) {
        for (const auto& fault : *kind) {
            ADD_FAILURE() << fault;
        }
    }
    return faults.pictures.empty() && faults.drawing.empty();
}

int App::loggedCount(const std::string& line) const {
    int n = 0;
    for (const auto& l : logs_.lines()) {
        n += l == line ? 1 : 0;
    }
    return n;
}

}  // namespace pelmar::test

// Under LeakSanitizer: fontconfig, which the raster snapshots' text goes through, keeps
// allocations for the life of the process and never frees them; they are not ours to report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
