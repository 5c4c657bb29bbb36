#pragma once

#include <vector>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/recorder/PelmarRecorder.h"

namespace pelmar::test {

// PermissionCase: camera and microphone access as found and as answered, and what a camera
// screen's set-up must end in: the result and the alert's message (null: no alert).
struct PermissionCase {
    const char* name;
    av::AuthorizationStatus camera;
    av::AuthorizationStatus microphone;
    bool cameraAnswer;
    bool microphoneAnswer;
    AVCamSetupResult result;
    const char* alert;
};

inline constexpr const char* kCameraDeniedText =
        "recorder doesn't have permission to use the camera, please change privacy settings";
inline constexpr const char* kMicrophoneDeniedText =
        "recorder doesn't have permission to use the microphone, please change privacy settings";

// The cases every camera screen is checked against. Threads: thread-safe (constant).
inline const std::vector<PermissionCase>& permissionCases() {
    using av::AuthorizationStatus;
    static const std::vector<PermissionCase> cases = {
            {"both authorised", AuthorizationStatus::Authorized, AuthorizationStatus::Authorized,
             true, true, AVCamSetupResult::success, nullptr},
            {"both asked, both granted", AuthorizationStatus::NotDetermined,
             AuthorizationStatus::NotDetermined, true, true, AVCamSetupResult::success, nullptr},
            {"camera asked and refused", AuthorizationStatus::NotDetermined,
             AuthorizationStatus::Authorized, false, true, AVCamSetupResult::cameraNotAuthorized,
             kCameraDeniedText},
            {"microphone asked and refused", AuthorizationStatus::Authorized,
             AuthorizationStatus::NotDetermined, true, false, AVCamSetupResult::micNotAuthorized,
             kMicrophoneDeniedText},
            {"both asked, both refused", AuthorizationStatus::NotDetermined,
             AuthorizationStatus::NotDetermined, false, false, AVCamSetupResult::micNotAuthorized,
             kMicrophoneDeniedText},
            {"both refused before", AuthorizationStatus::Denied, AuthorizationStatus::Denied, true,
             true, AVCamSetupResult::micNotAuthorized, kMicrophoneDeniedText},
            {"camera restricted", AuthorizationStatus::Restricted, AuthorizationStatus::Authorized,
             true, true, AVCamSetupResult::cameraNotAuthorized, kCameraDeniedText},
    };
    return cases;
}

}  // namespace pelmar::test
