// What becomes of a finished recording: the export into Documents, the preview or the upload,
// the retake, and tidying the temporary movie away.

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/core/Utils.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/internal/RecorderQueues.h"
#include "pelmar/recorder/internal/RecordingCleanup.h"
#include "pelmar/recorder/internal/RecordingExport.h"

namespace pelmar {

using recorder::internal::onMain;

namespace {

// A recording written with an error still counts when it holds more than this.
constexpr std::uintmax_t kMinUsableBytes = 1024;

bool usableAfterError(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return !ec && size > kMinUsableBytes;
}

}  // namespace

void PelmarRecorder::processRecordedVideo(const std::string& path,
                                          const std::optional<Error>& error) {
    auto delegate = recorderDelegate();
    if (delegate) {
        delegate->recorderManuallySubmitted();
    }
    log("capture output did finish");
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    onMain(weak, [](PelmarRecorder& self) {
        if (self.durationUpdateTimer_) {
            self.durationUpdateTimer_->invalidate();
            self.durationUpdateTimer_.reset();
        }
        self.updateDuration();
    });

    auto cleanup = std::make_shared<recorder::internal::RecordingCleanup>(
            path, backgroundRecordingID_.exchange(app::kInvalidBackgroundTask));
    cleanup_->set(cleanup);

    bool success = !error;
    if (error) {
        logError("Movie file finishing error: " + error->description());
        success = usableAfterError(path);
    }
    const bool exporting = success && av::videoAtPathIsCompatibleWithSavedPhotosAlbum(path)
                           && exportRecording(path);
    if (!exporting) {
        // Nothing follows: the app need not stay awake for this recording any longer. The file
        // stays, as the delegate is about to be given its path.
        cleanup->endTask();
    }
    updateUIRecordingComplete();
    if (delegate) {
        delegate->recorderStopped(path);
    }
}

bool PelmarRecorder::exportRecording(const std::string& path) {
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    return recorder::internal::startRecordingExport(
            path,
            [this](const std::filesystem::path& output) {
                log("export to file " + output.string());
            },
            [weak](const std::shared_ptr<av::AssetExportSession>& session) {
                if (auto self = weak.lock()) {
                    self->exportFinished(session);
                }
            });
}

void PelmarRecorder::exportFinished(const std::shared_ptr<av::AssetExportSession>& session) {
    const auto outcome = recorder::internal::exportOutcome(session->status(), session->error());
    if (outcome.logError) {
        logError(*outcome.logError);
    }
    if (outcome.log) {
        log(*outcome.log);
    }
    if (!outcome.completed) {
        cleanup_->run();
        return;
    }
    const auto url = session->outputURL();
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    // The settings are read on the main thread, where they are set.
    onMain(weak, [url](PelmarRecorder& self) {
        if (!self.videoPreview || !self.recordedVideoPreviewEnabled) {
            self.uploadVideo(url);
        } else {
            self.showPreview(url);
        }
    });
}

void PelmarRecorder::showPreview(const std::filesystem::path& url) {
    auto screen = std::dynamic_pointer_cast<ui::ViewController>(videoPreview);
    if (!screen) {
        uploadVideo(url);
        return;
    }
    videoPreview->setVideoURL(url);
    screen->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    Utils::showPresentViewController(screen);
}

void PelmarRecorder::uploadVideo(const std::filesystem::path& url) {
    auto chosen = foundation::Sandbox::temporaryDirectory() / url.filename();
    std::error_code ec;
    std::filesystem::copy_file(url, chosen, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) {
        chosen = url;
    }
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    onMain(weak, [chosen](PelmarRecorder& self) {
        self.log("file " + chosen.string() + " captured");
        auto handler = self.pelmar_ ? self.pelmar_->uploadingHandler() : nullptr;
        if (handler) {
            auto cleanup = self.cleanup_->current();
            // A plain path: the engine reads it as it stands, blanks and all.
            handler->upload(
                    Media_Type::Video, chosen.string(), self.pelmar_->uploadingConfig(), nullptr,
                    nullptr,
                    [cleanup](std::optional<Json>, std::shared_ptr<const net::HTTPURLResponse>,
                              std::optional<Error>) {
                        if (cleanup) {
                            cleanup->run();
                        }
                    });
        }
        self.dismiss(true);
    });
}

void PelmarRecorder::retake(const std::optional<std::filesystem::path>& url) {
    if (url) {
        std::error_code ec;
        std::filesystem::remove(*url, ec);
        if (auto delegate = recorderDelegate()) {
            delegate->recorderRerecord();
        }
    }
    cleanup_->run();
    resetVideoOrientation();
}

}  // namespace pelmar
