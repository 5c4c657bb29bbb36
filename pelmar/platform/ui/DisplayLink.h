#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace pelmar::dispatch {
class Timer;
}

namespace pelmar::ui {

// The run-loop mode that stands for every common mode.
inline constexpr std::string_view kRunLoopCommonModes = "NSRunLoopCommonModes";
inline constexpr std::string_view kRunLoopDefaultMode = "NSDefaultRunLoopMode";

// DisplayLink: calls its action on the main run loop in step with the screen's refreshes, at the
// screen's maximum frame rate or a lower preferred one (every n-th refresh), measured on the
// installed clock, so that a manual clock drives it in tests. It fires while it is added to the
// run loop in at least one mode, is not paused and not invalidated.
// Ownership: made by create() and held by shared_ptr; while it is running the run loop's timer
//     refers to it weakly, so dropping the last handle stops it. The action should hold its
//     target weakly.
// Threads: main thread only.
// Errors: none; invalidate() is idempotent and stops it for good.
class DisplayLink : public std::enable_shared_from_this<DisplayLink> {
    struct Private {};

public:
    using Action = std::function<void(DisplayLink&)>;

    static std::shared_ptr<DisplayLink> create(Action action);

    DisplayLink(Private, Action action);
    ~DisplayLink();

    DisplayLink(const DisplayLink&) = delete;
    DisplayLink& operator=(const DisplayLink&) = delete;

    void addToRunLoop(std::string_view mode);
    void removeFromRunLoop(std::string_view mode);

    bool isPaused() const { return paused_; }

    void setPaused(bool paused);

    // Fires per second wanted; 0 (the default) means the screen's maximum. Rounded to a whole
    // number of refreshes between fires.
    int preferredFramesPerSecond() const { return preferredFramesPerSecond_; }

    void setPreferredFramesPerSecond(int framesPerSecond);

    // Seconds between fires at the current settings.
    double duration() const;

    // Clock time of the fire being delivered (or the last one).
    double timestamp() const { return timestamp_; }

    void invalidate();

    bool isValid() const { return valid_; }

    // Whether the link would fire now.
    bool isRunning() const;

private:
    void update();
    void fire();

    Action action_;
    std::set<std::string, std::less<>> modes_;
    bool paused_ = false;
    bool valid_ = true;
    int preferredFramesPerSecond_ = 0;
    double timestamp_ = 0;
    std::shared_ptr<dispatch::Timer> timer_;
};

}  // namespace pelmar::ui
