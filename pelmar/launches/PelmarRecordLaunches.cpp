// The facade's camera launches: the camera recorder and the system camera.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarCacheManager.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/core/Utils.h"
#include "pelmar/platform/av/ImagePickerCameraSource.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/image/ImageEncoder.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImagePickerController.h"
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

// The system camera for the facade: the picker is its own delegate and hands the outcome to the
// facade, which it refers to weakly.
class FacadeCameraPicker : public ui::ImagePickerController,
                           public ui::ImagePickerControllerDelegate {
public:
    explicit FacadeCameraPicker(std::weak_ptr<Pelmar> facade) : facade_(std::move(facade)) {}

    void imagePickerController(ui::ImagePickerController& picker,
                               const ui::ImagePickerMediaInfo& info) override {
        if (auto facade = facade_.lock()) {
            facade->imagePickerController(picker, info);
        }
    }

    void imagePickerControllerDidCancel(ui::ImagePickerController& picker) override {
        if (auto facade = facade_.lock()) {
            facade->imagePickerControllerDidCancel(picker);
        }
    }

private:
    std::weak_ptr<Pelmar> facade_;
};

void dismissTop(Pelmar& facade) {
    if (auto top = facade.getParentViewController()) {
        top->dismiss(true);
    }
}

}  // namespace

void Pelmar::startImageRecorder() {
    av::ImagePickerCameraSource::install();
    if (!ui::ImagePickerController::isSourceTypeAvailable(ui::ImagePickerSourceType::Camera)) {
        return;
    }
    auto picker = std::make_shared<FacadeCameraPicker>(weak_from_this());
    picker->setPickerDelegate(picker);
    picker->setSourceType(ui::ImagePickerSourceType::Camera);
    picker->setMediaTypes({std::string(ui::kImagePickerTypeImage)});
    picker->setAllowsEditing(false);
    presentFullScreen(*this, picker);
}

void Pelmar::imagePickerController(ui::ImagePickerController&,
                                   const ui::ImagePickerMediaInfo& info) {
    const std::string type = info.mediaType.value_or("");
    auto upload = [this](Media_Type media, const std::string& path) {
        if (auto handler = uploadingHandler()) {
            handler->upload(media, path, uploadingConfig(), nullptr, nullptr, nullptr);
        }
    };
    auto copyAndUpload = [&](Media_Type media, const std::string& stem,
                             const std::string& extension) {
        const std::string source = info.mediaURL.value_or("");
        const auto target = documentsFileNotInUpload(stem, extension);
        std::error_code ec;
        bool copied = false;
        if (auto from = Utils::localPath(source)) {
            std::filesystem::remove(target, ec);
            copied = !ec && std::filesystem::copy_file(*from, target, ec) && !ec;
        }
        upload(media, copied ? target.string() : source);
    };

    if (type == "public.movie" || type == "public.video") {
        copyAndUpload(Media_Type::Video, "video", ".mp4");
    } else if (type == "public.audio") {
        copyAndUpload(Media_Type::Audio, "audio", ".aac");
    } else if (type == "public.image") {
        const auto target = documentsFileNotInUpload("image", ".jpg");
        if (auto cache = cacheManager(); cache && cache->fileExists(target.string())) {
            cache->removeFile(target.string());
        }
        std::optional<std::string> bytes;
        if (info.originalImage && info.originalImage->bitmap()) {
            bytes = image::ImageEncoder::encodeJPEG(*info.originalImage->bitmap(), 0.0);
        }
        const bool written =
                bytes
                && !foundation::FileManager::writeAtomically(target, std::string_view(*bytes));
        if (written) {
            upload(Media_Type::Image, target.string());
        } else if (auto delegate = uploadingDelegate()) {
            // Nothing was written, so there is nothing to upload.
            delegate->failedToUpload(target.string());
        }
    }
    dismissTop(*this);
}

void Pelmar::imagePickerControllerDidCancel(ui::ImagePickerController&) {
    dismissTop(*this);
}

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
        recorder->setMaxRecordedDurationSeconds(static_cast<double>(*config->maxDuration));
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
