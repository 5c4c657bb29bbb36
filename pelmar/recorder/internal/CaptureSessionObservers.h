#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar::recorder::internal {

// CaptureSessionObservers: a camera screen's observations of its capture session (running
// changes, runtime errors, interruptions), added when the session starts and removed when it
// stops (or the screen goes).
// Ownership: owned by the screen; holds the observed session weakly.
// Threads: not thread-safe; the screen uses it on its session queue only.
// Errors: none.
class CaptureSessionObservers {
public:
    struct Callbacks {
        std::function<void(bool running)> runningChanged;
        std::function<void(const Json& info)> runtimeError;
        std::function<void(const Json& info)> wasInterrupted;
        std::function<void()> interruptionEnded;
    };

    CaptureSessionObservers() = default;

    ~CaptureSessionObservers() { remove(); }

    CaptureSessionObservers(const CaptureSessionObservers&) = delete;
    CaptureSessionObservers& operator=(const CaptureSessionObservers&) = delete;

    // Observes `session`; false, and nothing added, when already observing (appearance
    // callbacks out of balance must not double the observers).
    bool add(const std::shared_ptr<av::CaptureSession>& session, Callbacks callbacks);

    // Stops every observation; false when there was none.
    bool remove();

    bool isObserving() const { return observing_; }

private:
    bool observing_ = false;
    std::weak_ptr<av::CaptureSession> session_;
    uint64_t runningObserver_ = 0;
    foundation::ObserverToken runtimeErrorToken_;
    foundation::ObserverToken interruptedToken_;
    foundation::ObserverToken interruptionEndedToken_;
};

}  // namespace pelmar::recorder::internal
