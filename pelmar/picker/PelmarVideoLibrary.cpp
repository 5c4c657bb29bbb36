#include "pelmar/picker/PelmarVideoLibrary.h"

#include <chrono>
#include <mutex>
#include <set>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/core/Utils.h"
#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/MainThreadHold.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar {

namespace {

constexpr double kIconWidth = 50;
const std::string kFiveSpaces(5, ' ');
const std::string kEighteenSpaces(18, ' ');

// Seconds since 2001-01-01 00:00 UTC, whole.
long long absoluteSeconds() {
    using namespace std::chrono;
    constexpr long long kUnixTo2001 = 978307200;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count() - kUnixTo2001;
}

// Output files handed out but perhaps not written yet (an export takes a while).
std::mutex gReservedMutex;
std::set<std::filesystem::path> gReserved;

std::shared_ptr<ui::Button> buttonParent(ui::Label& label) {
    return std::dynamic_pointer_cast<ui::Button>(label.superview());
}

std::shared_ptr<ui::ImageView> iconView(const std::string& name, double height) {
    auto icon = std::make_shared<ui::ImageView>();
    icon->setFrame({0, 0, kIconWidth, height});
    icon->setImage(PelmarVideoLibrary::getImageFromResource(name));
    icon->setContentMode(ui::ContentMode::ScaleAspectFit);
    return icon;
}

std::string withoutFileScheme(std::string path) {
    for (auto at = path.find("file://"); at != std::string::npos; at = path.find("file://")) {
        path.erase(at, 7);
    }
    return path;
}

}  // namespace

PelmarVideoLibrary::PelmarVideoLibrary(std::shared_ptr<Pelmar> pelmar,
                                       std::optional<std::string> videoToken)
    : pelmar_(std::move(pelmar)), videoToken_(std::move(videoToken)) {}

std::shared_ptr<PelmarVideoLibrary> PelmarVideoLibrary::create(
        std::shared_ptr<Pelmar> pelmar, std::optional<std::string> videoToken) {
    auto picker = std::shared_ptr<PelmarVideoLibrary>(
            new PelmarVideoLibrary(std::move(pelmar), std::move(videoToken)));
    picker->setPickerDelegate(picker);
    picker->setDelegate(picker);
    picker->setSourceType(ui::ImagePickerSourceType::PhotoLibrary);
    picker->setAllowsEditing(false);
    picker->setMediaTypes({std::string(ui::kImagePickerTypeMovie)});
    return picker;
}

PelmarVideoLibrary::~PelmarVideoLibrary() {
    if (closeLabel_) {
        closeLabel_->removeTextObserver(closeObserver_);
    }
    if (retakeLabel_) {
        retakeLabel_->removeTextObserver(retakeObserver_);
    }
}

void PelmarVideoLibrary::selectExistingVideo() {
    setSourceType(ui::ImagePickerSourceType::PhotoLibrary);
    setMediaTypes({std::string(ui::kImagePickerTypeMovie)});
}

std::optional<std::string> PelmarVideoLibrary::getFileName(const std::optional<std::string>& path) {
    if (!path) {
        return std::nullopt;
    }
    const auto slash = path->rfind('/');
    return slash == std::string::npos ? *path : path->substr(slash + 1);
}

std::shared_ptr<const ui::Image> PelmarVideoLibrary::getImageFromResource(const std::string& name) {
    return ui::Image::named(name + ".png");
}

void PelmarVideoLibrary::viewDidAppear(bool animated) {
    ImagePickerController::viewDidAppear(animated);
    if (!cameraFlipButtonVisible) {
        hideFlipButtonInSubviews(view());
    }
    // The first screen was shown before anyone could hear of it.
    if (auto top = topViewController()) {
        scanSubviews(*top->view(), "root");
    }
}

void PelmarVideoLibrary::hideFlipButtonInSubviews(const std::shared_ptr<ui::View>& view) {
    if (!view) {
        return;
    }
    if (view->typeName() == "CAMFlipButton") {
        view->setHidden(true);
        return;
    }
    const auto subviews = view->subviews();
    for (const auto& subview : subviews) {
        hideFlipButtonInSubviews(subview);
    }
}

void PelmarVideoLibrary::observe(const std::shared_ptr<ui::Label>& label, int& token) {
    std::weak_ptr<PelmarVideoLibrary> weak =
            std::static_pointer_cast<PelmarVideoLibrary>(shared_from_this());
    std::weak_ptr<ui::Label> weakLabel = label;
    token = label->addTextObserver([weak, weakLabel](ui::Label&, const std::string&) {
        dispatch::Queue::main()->async([weak, weakLabel] {
            auto self = weak.lock();
            auto changed = weakLabel.lock();
            if (self && changed) {
                self->labelTextChanged(changed);
            }
        });
    });
}

void PelmarVideoLibrary::scanSubviews(ui::View& view, const std::string& prefix) {
    const auto subviews = view.subviews();
    for (const auto& subview : subviews) {
        auto label = std::dynamic_pointer_cast<ui::Label>(subview);
        if (label && label->text() == "Cancel") {
            if (closeLabel_ && closeLabel_ != label) {
                closeLabel_->removeTextObserver(closeObserver_);
            }
            closeLabel_ = label;
            observe(label, closeObserver_);
            auto button = buttonParent(*label);
            closeIcon_ = iconView("delete-white", button ? button->frame().height : 0);
            if (button) {
                button->addSubview(closeIcon_);
            }
            label->setText(kFiveSpaces);
            closeLabel_->removeFromSuperview();
        } else if (label && label->text() == "Retake" && !retakeLabel_) {
            retakeLabel_ = label;
            label->setText(kEighteenSpaces);
            observe(label, retakeObserver_);
            auto button = buttonParent(*label);
            retakeIcon_ = iconView("trash-white", button ? button->frame().height : 0);
            if (button) {
                button->addSubview(retakeIcon_);
            }
            retakeLabel_->removeFromSuperview();
        }
        scanSubviews(*subview, prefix + "->" + subview->typeName());
    }
}

void PelmarVideoLibrary::labelTextChanged(const std::shared_ptr<ui::Label>& label) {
    const std::string text = label->text();
    if (text == "Cancel") {
        label->setText(kFiveSpaces);
        if (closeIcon_) {
            closeIcon_->setImage(getImageFromResource("delete-white"));
            closeIcon_->setFrame({0, 0, kIconWidth, closeIcon_->frame().height});
        }
    } else if (text == "Retake") {
        label->setText(kEighteenSpaces);
    } else if (text == "Use Video") {
        label->setText(kFiveSpaces);
        if (closeIcon_) {
            closeIcon_->setImage(getImageFromResource("upload-white"));
            // Without a parent the icon stays where it is: there is no width to place it by.
            if (auto parent = closeIcon_->superview()) {
                closeIcon_->setFrame({parent->frame().width - kIconWidth, 0, kIconWidth,
                                      closeIcon_->frame().height});
            }
        }
    }
}

void PelmarVideoLibrary::didShow(ui::NavigationController&, ui::ViewController& controller, bool) {
    scanSubviews(*controller.view(), "root");
}

std::filesystem::path PelmarVideoLibrary::reserveOutput(const std::filesystem::path& folder) {
    const std::string stem = std::to_string(absoluteSeconds());
    std::lock_guard lock(gReservedMutex);
    std::error_code ec;
    for (int n = 0;; ++n) {
        const auto candidate =
                folder / (n == 0 ? stem + ".mp4" : stem + "_" + std::to_string(n) + ".mp4");
        if (!gReserved.contains(candidate) && !std::filesystem::exists(candidate, ec)) {
            gReserved.insert(candidate);
            return candidate;
        }
    }
}

void PelmarVideoLibrary::imagePickerController(ui::ImagePickerController&,
                                               const ui::ImagePickerMediaInfo& info) {
    if (info.mediaType != ui::kImagePickerTypeMovie) {
        return;
    }
    const auto documents = foundation::Sandbox::documentsDirectory();
    const auto picked = info.mediaURL ? foundation::pathFromFileURL(*info.mediaURL) : std::nullopt;
    if (!picked) {
        pelmar_->log("picked movie without a file");
        return;
    }
    std::string source = *picked;
    if (auto copy = Utils::copyFileToTemporaryDirectory(source)) {
        source = *copy;
    }
    const auto folder = documents / "MP4";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!av::videoAtPathIsCompatibleWithSavedPhotosAlbum(source)) {
        pelmar_->log("not compatible object");
        return;
    }
    auto asset = av::URLAsset::create(source);
    const auto presets = av::AssetExportSession::exportPresets(asset);
    if (std::find(presets.begin(), presets.end(), av::kAssetExportPresetLowQuality)
        == presets.end()) {
        return;
    }
    auto session = av::AssetExportSession::create(asset, av::kAssetExportPresetLowQuality);
    if (!session) {
        return;
    }
    const auto output = reserveOutput(folder);
    session->setOutputURL(output);
    session->setOutputFileType(std::string(av::kFileTypeMPEG4));
    session->setShouldOptimizeForNetworkUse(true);
    session->setTimeRange(
            av::TimeRange::make(media::Time::makeWithSeconds(0, 0), asset->duration()));
    export_ = session;
    // Each export keeps its picker and itself alive until its completion has run: a second pick
    // replaces export_, and the host holds no export, so nothing else would. The picker is let go
    // on the main queue, never on the export's thread.
    auto hold = std::make_shared<dispatch::MainThreadHold<PelmarVideoLibrary>>(
            std::static_pointer_cast<PelmarVideoLibrary>(shared_from_this()));
    session->exportAsynchronously([hold, session, output, source]() mutable {
        dispatch::Queue::main()->async([self = hold->get(), exporter = std::move(session), output,
                                        source] {
            {
                std::lock_guard lock(gReservedMutex);
                gReserved.erase(output);
            }
            switch (exporter->status()) {
                case av::AssetExportSession::Status::Completed:
                    self->uploadVideo(output.string());
                    break;
                case av::AssetExportSession::Status::Failed: {
                    const auto error = exporter->error();
                    self->pelmar_->log("Export failed: "
                                       + (error ? error->description() : std::string("nil")));
                    self->uploadVideo(source);
                    break;
                }
                case av::AssetExportSession::Status::Cancelled:
                    self->pelmar_->logError("Export canceled");
                    break;
                default:
                    break;
            }
        });
    });
}

void PelmarVideoLibrary::uploadVideo(const std::string& path) {
    // The picker lives until its upload has started, even when the host no longer holds it.
    auto self = std::static_pointer_cast<PelmarVideoLibrary>(shared_from_this());
    dispatch::Queue::main()->async([self, path] {
        self->pelmar_->log("file " + path + " captured");
        if (auto handler = self->pelmar_->uploadingHandler()) {
            handler->upload(Media_Type::Video, withoutFileScheme(path),
                            self->pelmar_->uploadingConfig(), nullptr, nullptr, nullptr);
        } else {
            self->pelmar_->log("no upload engine; " + path + " not uploaded");
        }
        self->dismiss(true);
    });
}

void PelmarVideoLibrary::imagePickerControllerDidCancel(ui::ImagePickerController&) {
    std::weak_ptr<Pelmar> weakSdk = pelmar_;
    dismiss(true, [weakSdk] {
        auto sdk = weakSdk.lock();
        if (!sdk) {
            return;
        }
        if (auto delegate = sdk->fileSelectorDelegate()) {
            delegate->uploadCancelledByUser();
        }
    });
}

}  // namespace pelmar
