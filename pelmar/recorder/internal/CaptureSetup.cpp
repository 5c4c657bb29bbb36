#include "pelmar/recorder/internal/CaptureSetup.h"

#include <string>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/ui/Application.h"

namespace pelmar::internal {

void askCapturePermissions(const std::shared_ptr<dispatch::Queue>& queue,
                           const std::function<void(AVCamSetupResult)>& refuse) {
    struct Permission {
        av::MediaType media;
        AVCamSetupResult refusal;
    };

    for (const Permission p :
         {Permission{av::MediaType::Video, AVCamSetupResult::cameraNotAuthorized},
          Permission{av::MediaType::Audio, AVCamSetupResult::micNotAuthorized}}) {
        switch (av::CaptureDevice::authorizationStatus(p.media)) {
            case av::AuthorizationStatus::Authorized:
                break;
            case av::AuthorizationStatus::NotDetermined:
                queue->suspend();
                av::CaptureDevice::requestAccess(p.media, [queue, p, refuse](bool granted) {
                    if (!granted) {
                        refuse(p.refusal);
                    }
                    queue->resume();
                });
                break;
            case av::AuthorizationStatus::Denied:
            case av::AuthorizationStatus::Restricted:
                refuse(p.refusal);
                break;
        }
    }
}

std::shared_ptr<ui::AlertController> setupAlert(AVCamSetupResult result) {
    const char* message = nullptr;
    bool offerSettings = true;
    switch (result) {
        case AVCamSetupResult::cameraNotAuthorized:
            message =
                    "recorder doesn't have permission to use the camera, please change privacy "
                    "settings";
            break;
        case AVCamSetupResult::micNotAuthorized:
            message =
                    "recorder doesn't have permission to use the microphone, please change "
                    "privacy settings";
            break;
        case AVCamSetupResult::sessionConfigurationFailed:
            message = "Unable to capture media";
            offerSettings = false;
            break;
        case AVCamSetupResult::none:
        case AVCamSetupResult::success:
            return nullptr;
    }
    auto alert = std::make_shared<ui::AlertController>("recorder", message);
    alert->addAction({"OK", ui::AlertAction::Style::Cancel, nullptr});
    if (offerSettings) {
        alert->addAction({"Settings", ui::AlertAction::Style::Default, [](const ui::AlertAction&) {
                              ui::Application::shared().open(
                                      std::string(ui::Application::kOpenSettingsURLString));
                          }});
    }
    return alert;
}

bool isMediaServicesReset(const Json& info) {
    if (!info.is_object() || !info.contains("error") || !info["error"].is_object()) {
        return false;
    }
    const Json& error = info["error"];
    return error.contains("code") && error["code"].is_number_integer()
           && error["code"].get<long>() == av::kCaptureErrorMediaServicesWereReset;
}

}  // namespace pelmar::internal
