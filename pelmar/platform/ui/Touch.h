#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/ui/Point.h"

namespace pelmar::ui {

class View;
class Window;

// Touch: one finger on a window during one event: its phase, where it is in window coordinates,
// when (seconds on the installed dispatch clock), how many quick taps it is part of, and the view
// it was hit-tested to when it came down.
// Ownership: value type; refers to its view weakly.
// Threads: thread-compatible (made and read on the main thread).
// Errors: none.
struct Touch {
    enum class Phase : int { Began, Moved, Stationary, Ended, Cancelled };

    int id = 0;
    Phase phase = Phase::Began;
    Point location;  // window coordinates
    double timestamp = 0;
    int tapCount = 1;
    std::weak_ptr<View> view;

    // The location in `view`'s bounds coordinates (null: window coordinates).
    Point locationIn(const View* view) const;
};

// A user's tap on the centre of `view`, the way a finger would: the point goes through the
// window's hit-testing and reaches the deepest eligible view there. Returns why it was refused
// (not in a window, hidden, disabled, not taking user interaction, not in the topmost screen,
// covered by another view), or nullopt when it was delivered.
// Threads: main thread only.
std::optional<std::string> tap(View& view);

// A user's tap at `point` in the coordinates of `window`.
std::optional<std::string> tap(Window& window, Point point);

// TouchSequence: a scripted gesture on one window: fingers go down at window points, move and
// lift. Each event carries the clock's time, so a test advances the manual clock between moves
// to give a gesture its speed. Fingers still down when the sequence is destroyed are cancelled.
// Ownership: holds its window strongly while fingers are down.
// Threads: main thread only.
// Errors: begin() returns why the touch was refused (nothing eligible under the first finger);
// move() with a different number of fingers than began, and calls after end(), are ignored.
class TouchSequence {
public:
    explicit TouchSequence(std::shared_ptr<Window> window);

    // On the application's key window.
    TouchSequence();

    ~TouchSequence();

    TouchSequence(const TouchSequence&) = delete;
    TouchSequence& operator=(const TouchSequence&) = delete;

    std::optional<std::string> begin(const std::vector<Point>& fingers);

    void move(const std::vector<Point>& fingers);

    void end();

    void cancel();

    bool isDown() const { return !touches_.empty(); }

private:
    void send(Touch::Phase phase, const std::vector<Point>* fingers);

    std::shared_ptr<Window> window_;
    std::vector<Touch> touches_;
};

}  // namespace pelmar::ui
