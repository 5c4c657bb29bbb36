#pragma once

#include <functional>
#include <memory>

namespace pelmar::dispatch {
class Timer;
}

namespace pelmar {

// Chronometer: a repeating counter on the main run loop. Every tick reports the value and then
// adds the interval to it: start() fires the first tick at once (reporting 0), the next come one
// interval apart (i, 2i, ...). Intervals below kMinimumInterval tick at that period.
// Ownership: made with std::make_shared; owns its timer, which refers to it weakly.
// Threads: main thread only; callbacks run on the main thread.
// Errors: none.
class Chronometer : public std::enable_shared_from_this<Chronometer> {
public:
    static constexpr double kMinimumInterval = 0.01;

    explicit Chronometer(double timeInterval = 0.0) : timeInterval_(timeInterval) {}

    ~Chronometer();
    Chronometer(const Chronometer&) = delete;
    Chronometer& operator=(const Chronometer&) = delete;

    std::function<void(double)> timerDidUpdate;
    std::function<void()> timerDidComplete;

    bool isPlaying() const { return isPlaying_; }

    double timerCurrentValue() const { return value_; }

    double timeInterval() const { return timeInterval_; }

    // `shouldFire` is ignored: every start fires the first tick at once. Keeps the value.
    void start(bool shouldFire = true);
    // Stops ticking; the value stays.
    void pause();
    // One tick at once, then ticking again.
    void resume();
    // Value back to 0, then timerDidComplete.
    void stop();

    void timerDidTrigger();

private:
    void schedule();
    void invalidate();

    double timeInterval_;
    bool isPlaying_ = false;
    double value_ = 0;
    std::shared_ptr<dispatch::Timer> timer_;
};

}  // namespace pelmar
