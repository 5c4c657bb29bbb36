#include "pelmar/recorder/internal/CaptureSessionObservers.h"

#include <string>
#include <utility>

namespace pelmar::recorder::internal {

bool CaptureSessionObservers::add(const std::shared_ptr<av::CaptureSession>& session,
                                  Callbacks callbacks) {
    if (observing_ || !session) {
        return false;
    }
    observing_ = true;
    session_ = session;
    runningObserver_ = session->addRunningObserver(std::move(callbacks.runningChanged));
    auto& center = session->notificationCenter();
    runtimeErrorToken_ =
            center.addObserver(std::string(av::CaptureSession::kRuntimeErrorNotification),
                               std::move(callbacks.runtimeError));
    interruptedToken_ =
            center.addObserver(std::string(av::CaptureSession::kWasInterruptedNotification),
                               std::move(callbacks.wasInterrupted));
    interruptionEndedToken_ =
            center.addObserver(std::string(av::CaptureSession::kInterruptionEndedNotification),
                               std::move(callbacks.interruptionEnded));
    return true;
}

bool CaptureSessionObservers::remove() {
    if (!observing_) {
        return false;
    }
    observing_ = false;
    if (auto session = session_.lock()) {
        session->removeRunningObserver(runningObserver_);
    }
    runningObserver_ = 0;
    runtimeErrorToken_.reset();
    interruptedToken_.reset();
    interruptionEndedToken_.reset();
    return true;
}

}  // namespace pelmar::recorder::internal
