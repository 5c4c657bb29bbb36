#pragma once

#include <functional>
#include <memory>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/recorder/PelmarRecorder.h"

// Steps of a camera screen's set-up that do not depend on the screen. Threads: thread-safe.

namespace pelmar::internal {

// Looks at camera, then microphone access. A refused or restricted one calls `refuse` with its
// refusal at once; an undetermined one suspends `queue` and asks, and its answer calls `refuse`
// when it refuses (on the answer's thread) and resumes `queue`. Work queued on `queue` after
// this therefore waits for every answer.
void askCapturePermissions(const std::shared_ptr<dispatch::Queue>& queue,
                           const std::function<void(AVCamSetupResult)>& refuse);

// The alert for a failed set-up (title "recorder", the refusal's or the failure's message, "OK",
// and "Settings" for a refusal); null for none and success.
std::shared_ptr<ui::AlertController> setupAlert(AVCamSetupResult result);

// A session runtime error notification's userInfo names a media-services reset.
bool isMediaServicesReset(const Json& info);

}  // namespace pelmar::internal
