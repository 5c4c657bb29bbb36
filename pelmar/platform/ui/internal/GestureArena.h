#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "pelmar/platform/ui/GestureRecognizer.h"

namespace pelmar::ui::internal {

// GestureArena: the recognisers that received the touches of one gesture on a window, kept until
// every touch is up and every one of them has finished (a recogniser waiting for a second tap or
// for another to fail keeps the gesture open). It applies the competition rules of
// GestureRecognizer.
// Ownership: owned by the window's touch dispatcher; holds its recognisers strongly until the
// gesture is over.
// Threads: main thread only.
// Errors: none.
class GestureArena : public std::enable_shared_from_this<GestureArena> {
public:
    void join(const std::shared_ptr<GestureRecognizer>& recognizer);

    bool contains(const GestureRecognizer& recognizer) const;

    // Whether another member is under way (began or changed) and may not run alongside `r`.
    bool blocks(GestureRecognizer& r) const;

    // `r` began or recognised: competing members fail, touches in views may be cancelled.
    void recognized(GestureRecognizer& r);

    // `r` failed: members waiting for it may go ahead.
    void failed(GestureRecognizer& r);

    void setTouchesDown(bool down);

    // Resets every member once the gesture is over.
    void finishIfDone();

    static bool simultaneous(GestureRecognizer& a, GestureRecognizer& b);

    // Called when a member that cancels touches in views begins or recognises.
    std::function<void()> onCancelTouchesInViews;

private:
    std::vector<std::shared_ptr<GestureRecognizer>> members_;
    bool touchesDown_ = false;
};

}  // namespace pelmar::ui::internal
