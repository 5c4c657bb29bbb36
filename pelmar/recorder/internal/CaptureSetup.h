#pragma once

#include <functional>
#include <memory>

#include "pelmar/platform/av/CaptureAudioDataOutput.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/CaptureVideoDataOutput.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/recorder/CapturePreviewView.h"
#include "pelmar/recorder/PelmarRecorder.h"

// Steps of a camera screen's set-up that do not depend on the screen. Threads: thread-safe.

namespace pelmar::recorder::internal {

// Looks at camera, then microphone access. A refused or restricted one calls `refuse` at once;
// an undetermined one suspends `queue` and asks, and its answer calls `refuse` when it refuses
// (on the answer's thread) and resumes `queue`. Work queued on `queue` after this therefore waits
// for every answer. `refuse` hears the refusal of the permission asked last among those refused
// so far (the microphone's over the camera's), whatever order the answers come in, and its calls
// never overlap: the last one always carries the microphone's refusal when both are refused.
void askCapturePermissions(const std::shared_ptr<dispatch::Queue>& queue,
                           const std::function<void(AVCamSetupResult)>& refuse);

// The alert for a failed set-up (title "recorder", the refusal's or the failure's message, "OK",
// and "Settings" for a refusal); null for none and success.
std::shared_ptr<ui::AlertController> setupAlert(AVCamSetupResult result);

// A session runtime error notification's userInfo names a media-services reset.
bool isMediaServicesReset(const Json& info);

// The movie's width for the preview's orientation: 1920 in landscape, 1080 otherwise (and with
// no preview).
int captureVideoWidth(const std::shared_ptr<CapturePreviewView>& preview);

// The movie's height that goes with captureVideoWidth's `width`.
inline int captureVideoHeight(int width) {
    return width == 1920 ? 1080 : 1920;
}

// Turns the video data output's connection to `orientation`, stabilised where supported;
// nothing without a connection.
void orientVideoOutput(const std::shared_ptr<av::CaptureVideoDataOutput>& output,
                       av::VideoOrientation orientation);

// Where a camera switch goes: from the back camera to the front one (mirrored), from the front
// camera or one of unspecified position to the back one (not mirrored).
struct CameraSwitch {
    av::CaptureDevicePosition position;
    bool mirrored;
};

CameraSwitch cameraSwitchFrom(av::CaptureDevicePosition current);

// Main thread: gives the video data output's connection the orientation of the preview layer's
// connection; nothing when either is missing.
void copyPreviewOrientation(const std::shared_ptr<CapturePreviewView>& preview,
                            const std::shared_ptr<av::CaptureVideoDataOutput>& output);

// Shows a session that starts or stops running: the buttons follow it (the camera button only
// with a second camera) and the preview fades in when it runs. Main thread.
void showSessionRunning(bool running,
                        const std::shared_ptr<ui::Button>& cameraButton,
                        const std::shared_ptr<ui::Button>& recordButton,
                        const std::shared_ptr<CapturePreviewView>& preview);

struct CaptureDataOutputs {
    std::shared_ptr<av::CaptureAudioDataOutput> audio;
    std::shared_ptr<av::CaptureVideoDataOutput> video;
};

// Adds the audio and the video (BGRA, late frames dropped, stabilised, mirrored for the front
// camera) data outputs to `session`, delivering to `delegate` on `queue`.
CaptureDataOutputs addCaptureDataOutputs(
        av::CaptureSession& session,
        const std::weak_ptr<av::CaptureDataOutputSampleBufferDelegate>& delegate,
        const std::shared_ptr<dispatch::Queue>& queue,
        bool mirrored);

}  // namespace pelmar::recorder::internal
