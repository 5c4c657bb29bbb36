#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/av/CaptureTypes.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar::av {

// Error domain of the capture stand-ins; codes below.
inline constexpr std::string_view kCaptureErrorDomain = "pelmar.av.capture";
inline constexpr long kCaptureErrorDeviceUnavailable = -11814;
inline constexpr long kCaptureErrorMediaServicesWereReset = -11819;
inline constexpr long kCaptureErrorLockFailed = -11852;

// How a camera focuses and sets its exposure.
enum class FocusMode : int { Locked = 0, AutoFocus = 1, ContinuousAutoFocus = 2 };

enum class ExposureMode : int { Locked = 0, AutoExpose = 1, ContinuousAutoExposure = 2 };

// A point of interest in device coordinates: (0, 0) top left to (1, 1) bottom right of the
// picture.
struct DevicePoint {
    double x = 0.5;
    double y = 0.5;

    bool operator==(const DevicePoint&) const = default;
};

// CaptureDevice: a synthetic camera or microphone of the CaptureEnvironment, and the lookups and
// permission questions about devices. Cameras produce a moving test pattern, microphones a tone.
// Ownership: made by the environment and shared by shared_ptr.
// Threads: thread-safe for the statics and identity; configuration (flash, focus, exposure,
//     subject-area monitoring) is thread-compatible: change it between lock and unlock on one
//     queue.
// Errors: lockForConfiguration() fails with kCaptureErrorLockFailed when the environment says so.
class CaptureDevice {
public:
    // Posted on the device's notification centre by simulateSubjectAreaChange().
    static constexpr std::string_view kSubjectAreaDidChangeNotification =
            "CaptureDeviceSubjectAreaDidChange";

    static std::shared_ptr<CaptureDevice> make(std::string uniqueID,
                                               std::string localizedName,
                                               CaptureDeviceType type,
                                               MediaType media,
                                               CaptureDevicePosition position);

    static AuthorizationStatus authorizationStatus(MediaType media);

    // Asks the user. The completion runs once, on a background thread, with the answer: the
    // environment's scripted answer while the status is NotDetermined (which then becomes
    // Authorized or Denied), else whether the status is Authorized.
    static void requestAccess(MediaType media, std::function<void(bool granted)> completion);

    // The first device of `type` for `media` at `position`, or null.
    static std::shared_ptr<CaptureDevice> defaultDevice(CaptureDeviceType type,
                                                        MediaType media,
                                                        CaptureDevicePosition position);

    // The first device for `media`, or null.
    static std::shared_ptr<CaptureDevice> defaultDevice(MediaType media);

    static std::vector<std::shared_ptr<CaptureDevice>> devices(MediaType media);

    CaptureDevice(const CaptureDevice&) = delete;
    CaptureDevice& operator=(const CaptureDevice&) = delete;

    const std::string& uniqueID() const { return uniqueID_; }

    const std::string& localizedName() const { return name_; }

    CaptureDeviceType deviceType() const { return type_; }

    MediaType mediaType() const { return media_; }

    CaptureDevicePosition position() const { return position_; }

    bool hasFlash() const {
        return media_ == MediaType::Video && position_ == CaptureDevicePosition::Back;
    }

    bool isFlashModeSupported(FlashMode mode) const { return hasFlash() || mode == FlashMode::Off; }

    FlashMode flashMode() const { return flashMode_; }

    void setFlashMode(FlashMode mode) { flashMode_ = mode; }

    // Focus and exposure. Back cameras support a focus point and every focus mode; front cameras
    // have a fixed focus (only Locked) but support an exposure point and every exposure mode.
    // Microphones support none.
    bool isFocusPointOfInterestSupported() const;

    bool isFocusModeSupported(FocusMode mode) const;

    bool isExposurePointOfInterestSupported() const { return media_ == MediaType::Video; }

    bool isExposureModeSupported(ExposureMode) const { return media_ == MediaType::Video; }

    DevicePoint focusPointOfInterest() const { return focusPoint_; }

    void setFocusPointOfInterest(DevicePoint point) { focusPoint_ = point; }

    FocusMode focusMode() const { return focusMode_; }

    void setFocusMode(FocusMode mode) { focusMode_ = mode; }

    DevicePoint exposurePointOfInterest() const { return exposurePoint_; }

    void setExposurePointOfInterest(DevicePoint point) { exposurePoint_ = point; }

    ExposureMode exposureMode() const { return exposureMode_; }

    void setExposureMode(ExposureMode mode) { exposureMode_ = mode; }

    [[nodiscard]] bool lockForConfiguration(Error* error = nullptr);

    void unlockForConfiguration() { locked_ = false; }

    bool isLockedForConfiguration() const { return locked_; }

    bool isSubjectAreaChangeMonitoringEnabled() const { return subjectAreaMonitoring_; }

    void setSubjectAreaChangeMonitoringEnabled(bool on) { subjectAreaMonitoring_ = on; }

    // Observers of kSubjectAreaDidChangeNotification.
    foundation::NotificationCenter& notificationCenter() { return *center_; }

    // Test hook: the scene in front of the camera changed.
    void simulateSubjectAreaChange();

private:
    CaptureDevice() = default;

    std::string uniqueID_;
    std::string name_;
    CaptureDeviceType type_ = CaptureDeviceType::BuiltInWideAngleCamera;
    MediaType media_ = MediaType::Video;
    CaptureDevicePosition position_ = CaptureDevicePosition::Unspecified;
    FlashMode flashMode_ = FlashMode::Off;
    DevicePoint focusPoint_;
    FocusMode focusMode_ = FocusMode::ContinuousAutoFocus;
    DevicePoint exposurePoint_;
    ExposureMode exposureMode_ = ExposureMode::ContinuousAutoExposure;
    bool locked_ = false;
    bool subjectAreaMonitoring_ = false;
    std::shared_ptr<foundation::NotificationCenter> center_;
};

}  // namespace pelmar::av
