// The facade's camera launches: the camera recorder and the system camera.

#include <memory>
#include <string>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/recorder/PelmarRecorder.h"

namespace pelmar {

namespace {

// A string under `key` sets the token, any other value clears it, no key leaves it.
template <class Set>
void tokenFromExtraArgs(const Json& extra, const char* key, Set set) {
    if (!extra.is_object() || !extra.contains(key)) {
        return;
    }
    const Json& value = extra[key];
    set(value.is_string() ? std::optional<std::string>(value.get<std::string>()) : std::nullopt);
}

void presentFullScreen(Pelmar& facade, const std::shared_ptr<ui::ViewController>& screen) {
    screen->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    if (auto parent = facade.getParentViewController()) {
        parent->present(screen, true);
    }
}

}  // namespace

void Pelmar::record() {
    auto recorder = PelmarRecorder::create(shared_from_this());
    const auto config = getVideoRecorderConfig();
    recorder->coverSelectorEnabled = config->shouldEnableCoverShot;
    recorder->recordedVideoPreviewEnabled = true;
    recorder->cameraFlipButtonVisible = !config->shouldDisableCameraSwitch;
    recorder->cameraDevice = config->facing == 1 ? CameraDevice::front : CameraDevice::rear;
    recorder->showSoundIndicator = true;
    recorder->showLightIndicator = true;
    recorder->showFaceOutline = config->shouldShowFaceOutline;
    recorder->setBlurMode(config->blurMode);
    recorder->startDelay = config->startDelay;
    if (config->maxDuration) {
        recorder->maxRecordedDurationSeconds = static_cast<double>(*config->maxDuration);
    }
    const Json extra = extraArgsForRecorder();
    recorder->extraArgsForCreateVideo = extra;

    if (auto http = connect()) {
        if (auto token = clientAuthToken()) {
            http->setClientAuthToken(*token);
        }
        if (auto token = serverAuthToken()) {
            http->setServerAuthToken(*token);
        }
        tokenFromExtraArgs(extra, "client_auth",
                           [&](std::optional<std::string> t) { http->setClientAuthToken(t); });
        tokenFromExtraArgs(extra, "server_auth",
                           [&](std::optional<std::string> t) { http->setServerAuthToken(t); });
    }
    presentFullScreen(*this, recorder);
}

}  // namespace pelmar
