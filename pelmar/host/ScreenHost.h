#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/host/CapturePermissions.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar {

// ScreenHost: what a host app needs to show the SDK's screens. The screens present themselves
// on a key window's root screen and do their work in blocks on the main run loop: without a
// ScreenHost (or the same done by hand) a screen never opens and its closures never arrive.
// Making one opens a key window of the main screen's size with a root screen that has appeared;
// the host then pumps the loop (runFor, runUntil, settle) from its main thread, touches the
// window as a finger would (tap, or a ui::TouchSequence on window()), paints the window into a
// bitmap or a PNG, and scripts the synthetic cameras and microphones (devices()) and the user's
// answers to permission requests for them and for the photo library (permissions()).
// Time is the installed dispatch clock: real time by default; a host that installs a
// dispatch::ManualClock first (dispatch::setClock) makes runFor move that clock instead.
// As on a device, each screen is displayed (its window painted, unseen) on the first frame after
// it appears, so views that take their look on their first display have it before the screen
// runs on: runUntil, runFor and finishTransitions do this as they pump; settle() does not (it
// needs no host), and render() and snapshot() display by painting.
// Ownership: RAII, one at a time per process. It owns the window, which owns the root and what
//     the root presents. The destructor lets transitions under way end, closes the window and
//     runs the clean-up it queues.
// Threads: main thread only; the thread that makes it becomes the main thread, and it must be
//     destroyed there (elsewhere the process aborts with a message, as any run of the main loop
//     from a second thread does).
// Errors: the constructor throws std::logic_error while another ScreenHost is alive, or on a
//     thread other than the one that already runs the main loop; an exception that a main-queue
//     block throws while it opens the window leaves it (the window is closed again). Either way
//     nothing is kept and a later ScreenHost can be made. The pumps (runUntil, runFor, settle,
//     finishTransitions) let such an exception leave them, as dispatch::RunLoop does; the
//     destructor never throws: it writes what a block threw to the log sink's Diagnostic channel
//     and goes on closing. Helpers return false or the reason a touch was refused; snapshot()
//     returns an Error (domain ui::kSnapshotErrorDomain).
class ScreenHost {
public:
    ScreenHost();
    ~ScreenHost();

    ScreenHost(const ScreenHost&) = delete;
    ScreenHost& operator=(const ScreenHost&) = delete;

    const std::shared_ptr<ui::Window>& window() const { return window_; }

    const std::shared_ptr<ui::ViewController>& root() const { return root_; }

    // The last screen of the presentation chain that starts at the root.
    std::shared_ptr<ui::ViewController> topViewController() const;

    // Calls `visit` on every screen of the presentation chain from the root, each followed by its
    // children, until it returns true; true when one did.
    bool anyScreen(const std::function<bool(ui::ViewController&)>& visit) const;

    // Presents `screen` on the top screen in its own presentation style.
    void present(std::shared_ptr<ui::ViewController> screen, bool animated = true);

    // Runs the main loop until `predicate` holds or `timeoutSeconds` of real time pass; returns
    // the predicate's last value.
    bool runUntil(const std::function<bool()>& predicate, double timeoutSeconds = 10);

    // Runs the main loop while the clock moves `seconds` (real time, or a manual clock's steps
    // with every timer firing at its own time).
    void runFor(double seconds);

    // Runs the main loop until no queue has work it can run (background queues, the main queue,
    // movie writers) and nothing new arrives; the clock does not move. False after
    // `timeoutSeconds` of real time. Needs no host (a host's own clean-up uses it after closing).
    static bool settle(double timeoutSeconds = 30);

    // Lets every screen transition under way end (interactive ones are finished), moving the
    // clock by transition steps; false when one does not end.
    bool finishTransitions();

    // A tap at `point` in window coordinates, or on the centre of `view`: the point goes through
    // hit-testing to the deepest eligible view. Returns why it was refused, or nullopt.
    std::optional<std::string> tap(ui::Point point);
    std::optional<std::string> tap(ui::View& view);

    // The window as it shows now: a premultiplied BGRA bitmap of its size times `scale` (null
    // when it cannot be painted), or a PNG at `path`.
    std::shared_ptr<image::Bitmap> render(double scale = 1) const;
    std::optional<Error> snapshot(const std::filesystem::path& path, double scale = 1) const;

    // The capture hardware: cameras, microphones, what they produce and which steps fail.
    av::CaptureEnvironment& devices();

    CapturePermissions& permissions() { return permissions_; }

private:
    // The one-host-per-process claim, taken before anything else is made and given back when
    // the host goes, or when its constructor throws.
    class Claim {
    public:
        Claim();
        ~Claim();

        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
    };

    // Paints the window once when a screen of the chain has appeared since the last call.
    void displayAppearedScreens();

    // Closes the window and lets its screens go (constructor failure and destructor).
    void closeWindow();

    Claim claim_;
    CapturePermissions permissions_;
    std::shared_ptr<ui::Window> window_;
    std::shared_ptr<ui::ViewController> root_;
    // The screens that were appeared when displayAppearedScreens() last looked.
    std::vector<std::weak_ptr<ui::ViewController>> appeared_;
};

}  // namespace pelmar
