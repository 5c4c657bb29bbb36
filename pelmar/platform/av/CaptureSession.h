#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "pelmar/platform/av/CaptureConnection.h"
#include "pelmar/platform/av/CaptureDeviceInput.h"
#include "pelmar/platform/av/CaptureOutput.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

namespace internal {
class SyntheticCapture;
}

// CaptureSession: connects capture inputs (a camera, a microphone) to outputs and runs the
// synthetic devices while running: cameras make BGRA frames of a moving test pattern at the
// environment's frame rate (480 x 360 with the medium preset, 360 x 480 when the video data
// output's connection is portrait) with an EXIF brightness attachment, microphones make 1024-frame
// buffers of a 440 Hz tone in signed 16-bit PCM, and faces go to a metadata output. Samples are
// timed on the installed clock (video in nanoseconds, audio in samples) and catch up when the clock
// jumps, so under a manual clock every due sample is made with its exact time. Session events are
// posted on notificationCenter(): runtime error (userInfo {"error": {"domain", "code",
// "message"}}), interruption (userInfo {"reason": 1-5}) and interruption end; test hooks simulate
// them. The running state has observers, called synchronously on the thread that changes it, while
// starts and stops are still serialised (so they arrive in order): an observer must not start or
// stop the session itself, but queue that elsewhere.
// Ownership: made by create(), held by shared_ptr; owns its inputs, outputs and device threads.
// Threads: thread-safe. The state mutex is never held while calling out; the start/stop mutex is
//     held around running observers only. startRunning() and stopRunning() block until the devices
//     have started or stopped.
// Errors: refused inputs and outputs are reported by canAdd*/add* returning false; a device that
//     cannot start leaves the session stopped.
class CaptureSession : public std::enable_shared_from_this<CaptureSession> {
public:
    static constexpr std::string_view kRuntimeErrorNotification = "CaptureSessionRuntimeError";
    static constexpr std::string_view kWasInterruptedNotification = "CaptureSessionWasInterrupted";
    static constexpr std::string_view kInterruptionEndedNotification =
            "CaptureSessionInterruptionEnded";

    // Interruption reasons (the "reason" of kWasInterruptedNotification).
    enum class InterruptionReason : int {
        VideoDeviceNotAvailableInBackground = 1,
        AudioDeviceInUseByAnotherClient = 2,
        VideoDeviceInUseByAnotherClient = 3,
        VideoDeviceNotAvailableWithMultipleForegroundApps = 4,
        VideoDeviceNotAvailableDueToSystemPressure = 5,
    };

    using RunningObserver = std::function<void(bool running)>;

    static std::shared_ptr<CaptureSession> create();

    ~CaptureSession();

    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    SessionPreset sessionPreset() const;

    void setSessionPreset(SessionPreset preset);

    // Nestable; changes made in between count as one. commit without begin is ignored.
    void beginConfiguration();

    void commitConfiguration();

    // Open beginConfiguration() calls.
    int configurationDepth() const;

    // One input per media type; the environment may refuse a media type.
    bool canAddInput(const std::shared_ptr<CaptureDeviceInput>& input) const;

    bool addInput(const std::shared_ptr<CaptureDeviceInput>& input);

    void removeInput(const std::shared_ptr<CaptureDeviceInput>& input);

    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs() const;

    // The device of the video input, or null.
    std::shared_ptr<CaptureDevice> videoDevice() const;

    // Connections that follow the camera, as a preview layer's does: each is mirrored exactly
    // while the video input's camera is a front one, from when it is added and whenever the
    // inputs change. Held weakly; adding one twice keeps one.
    void addCameraFollowingConnection(const std::shared_ptr<CaptureConnection>& connection);
    void removeCameraFollowingConnection(const std::shared_ptr<CaptureConnection>& connection);

    // One output per kind, not already in a session; the environment may refuse a kind.
    bool canAddOutput(const std::shared_ptr<CaptureOutput>& output) const;

    bool addOutput(const std::shared_ptr<CaptureOutput>& output);

    void removeOutput(const std::shared_ptr<CaptureOutput>& output);

    std::vector<std::shared_ptr<CaptureOutput>> outputs() const;

    void startRunning();

    void stopRunning();

    bool isRunning() const;

    bool isInterrupted() const;

    uint64_t addRunningObserver(RunningObserver observer);

    void removeRunningObserver(uint64_t id);

    foundation::NotificationCenter& notificationCenter() { return *center_; }

    // Test hooks. A runtime error stops the session, then posts the notification.
    void simulateRuntimeError(long code, std::string message);

    void simulateInterruption(InterruptionReason reason);

    void simulateInterruptionEnded();

    // Test hook: the running devices make what is due on the clock now, without waiting for
    // their next deadline (under a manual clock a deadline registered while the clock was being
    // moved fires only at the next move). Returns once those samples have been handed to the
    // outputs, which queue them for their delegates (or drop them).
    void pumpDevices();

private:
    CaptureSession();

    void setRunning(bool running);
    void mirrorFollowersLocked() PELMAR_REQUIRES(mutex_);
    void removeCameraFollowingConnectionLocked(const CaptureConnection* connection)
            PELMAR_REQUIRES(mutex_);
    std::shared_ptr<CaptureDevice> videoDeviceLocked() const PELMAR_REQUIRES(mutex_);

    mutable Mutex mutex_;
    SessionPreset preset_ PELMAR_GUARDED_BY(mutex_) = SessionPreset::High;
    int configurationDepth_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::vector<std::shared_ptr<CaptureDeviceInput>> inputs_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<CaptureOutput>> outputs_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::weak_ptr<CaptureConnection>> followers_ PELMAR_GUARDED_BY(mutex_);
    bool running_ PELMAR_GUARDED_BY(mutex_) = false;
    bool interrupted_ PELMAR_GUARDED_BY(mutex_) = false;
    std::map<uint64_t, std::shared_ptr<RunningObserver>> observers_ PELMAR_GUARDED_BY(mutex_);
    uint64_t nextObserverId_ PELMAR_GUARDED_BY(mutex_) = 1;
    std::shared_ptr<internal::SyntheticCapture> capture_ PELMAR_GUARDED_BY(mutex_);
    Mutex runMutex_;  // serialises start/stop; taken before mutex_
    const std::shared_ptr<foundation::NotificationCenter> center_;
};

}  // namespace pelmar::av
