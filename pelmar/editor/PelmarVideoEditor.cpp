#include "pelmar/editor/PelmarVideoEditor.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/editor/internal/EditorNibs.h"
#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/ImageGenerator.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/photos/AssetChangeRequest.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar {

namespace {

bool isRemote(const std::string& text) {
    return text.find("http://") != std::string::npos || text.find("https://") != std::string::npos;
}

// An absolute http(s) URL with a host and nothing a URL may not hold (blanks, control bytes, bytes
// beyond ASCII): what a string naming a remote video must be to be loaded.
bool isUsableRemoteURL(const std::string& text) {
    std::string_view rest = text;
    for (std::string_view scheme : {"http://", "https://"}) {
        if (rest.size() >= scheme.size()
            && std::equal(scheme.begin(), scheme.end(), rest.begin(), [](char a, char b) {
                   return a == std::tolower(static_cast<unsigned char>(b));
               })) {
            rest.remove_prefix(scheme.size());
            const std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
            const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
                const auto byte = static_cast<unsigned char>(c);
                return byte > 0x20 && byte < 0x7f;
            });
            return printable && !host.empty() && host.front() != ':' && host.front() != '@';
        }
    }
    return false;
}

}  // namespace

std::shared_ptr<PelmarVideoEditor> PelmarVideoEditor::create(std::shared_ptr<Pelmar> application,
                                                             std::string videoUrl) {
    return std::make_shared<PelmarVideoEditor>(std::move(application), std::move(videoUrl));
}

PelmarVideoEditor::PelmarVideoEditor(std::shared_ptr<Pelmar> application, std::string path)
    : ui::ViewController("PelmarVideoEditor"),
      videoUrl(std::move(path)),
      pelmar_(std::move(application)) {
    editor::internal::registerEditorNibs();
}

PelmarVideoEditor::~PelmarVideoEditor() = default;

void PelmarVideoEditor::print(const std::string& line) const {
    foundation::Console::print(line);
}

void PelmarVideoEditor::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    loadViews();
    setUrl(videoUrl);
}

void PelmarVideoEditor::loadViews() {
    if (auto button = cropButton.lock()) {
        button->layer()->setCornerRadius(5.0);
        button->setHidden(true);
    }
    if (auto container = frameContainerView.lock()) {
        container->setHidden(true);
    }
    if (auto strip = imageFrameView.lock()) {
        strip->layer()->setCornerRadius(5.0);
        strip->layer()->setBorderWidth(1.0);
        strip->layer()->setBorderColor(ui::Color::white());
        // The thumbnails are cut at the rounded border.
        strip->setClipsToBounds(true);
    }
    player = std::make_shared<av::Player>();
    cache = std::make_shared<ObjectCache>();
}

void PelmarVideoEditor::setUrl(const std::string& text) {
    if (isRemote(text) && !isUsableRemoteURL(text)) {
        print("PelmarVideoEditor: cannot load " + text + ": not a usable URL");
        return;
    }
    url = text;
    asset = av::URLAsset::create(text);
    const media::Time duration = asset->duration();
    if (asset->status() != av::Asset::Status::Loaded || !duration.isNumeric()) {
        print("PelmarVideoEditor: cannot read the video at " + text + ": "
              + (asset->error() ? asset->error()->description() : "no duration"));
        return;
    }
    thumbTime = duration;
    thumbtimeSeconds = kSliderSeconds;
    viewAfterVideoIsPicked();
    auto view = videoLayer.lock();
    if (!view) {
        return;
    }
    player = std::make_shared<av::Player>(av::PlayerItem::create(asset));
    // At the end the picture stays on the last frame.
    player->setActionAtItemEnd(av::Player::ActionAtItemEnd::Pause);
    playerLayer = std::make_shared<av::PlayerLayer>(player);
    // Framed once, to the video view as it is now (later layout does not move it).
    playerLayer->setFrame(view->bounds());
    playerLayer->setVideoGravity(av::LayerVideoGravity::ResizeAspectFill);
    std::weak_ptr<PelmarVideoEditor> weak =
            std::static_pointer_cast<PelmarVideoEditor>(shared_from_this());
    auto tap = std::make_shared<ui::TapGestureRecognizer>([weak](ui::TapGestureRecognizer& t) {
        if (auto self = weak.lock()) {
            self->tapOnVideoLayer(t);
        }
    });
    view->addGestureRecognizer(tap);
    // Loading counts as the first tap: playback starts, and the user's first tap pauses.
    tapOnVideoLayer(*tap);
    view->layer()->addSublayer(playerLayer);
    player->play();
}

void PelmarVideoEditor::viewAfterVideoIsPicked() {
    // A video loaded before leaves no picture behind.
    if (playerLayer) {
        playerLayer->removeFromSuperlayer();
    }
    createImageFrames();
    if (auto button = cropButton.lock()) {
        button->setHidden(false);
    }
    if (auto container = frameContainerView.lock()) {
        container->setHidden(false);
    }
    isSliderEnd = true;
    createRangeSlider();
}

void PelmarVideoEditor::tapOnVideoLayer(ui::TapGestureRecognizer& /*tap*/) {
    if (player) {
        if (isPlaying) {
            player->play();
        } else {
            player->pause();
        }
    }
    isPlaying = !isPlaying;
}

std::vector<int64_t> PelmarVideoEditor::thumbnailSeconds(int64_t durationSeconds) {
    const int64_t step = durationSeconds / kThumbnailCount;
    std::vector<int64_t> seconds;
    for (int i = 0; i < kThumbnailCount; ++i) {
        seconds.push_back(1 + i * step);
    }
    return seconds;
}

void PelmarVideoEditor::createImageFrames() {
    auto strip = imageFrameView.lock();
    if (!strip || !url || !thumbTime || !thumbTime->isNumeric()) {
        return;
    }
    av::ImageGenerator generator(*url);
    generator.appliesPreferredTrackTransform = true;
    generator.requestedTimeToleranceBefore = media::Time::zero();
    generator.requestedTimeToleranceAfter = media::Time::zero();
    const double width = strip->frame().width;
    const double height = strip->frame().height;
    const int64_t wholeSeconds = thumbTime->value / thumbTime->timescale;
    const auto seconds = thumbnailSeconds(wholeSeconds);
    // A movie of a whole number of seconds has no frame at its end, where the last slot of a
    // 6-second movie falls: that slot takes the last frame, a microsecond before the end.
    const media::Time lastFrame =
            media::Time::make(std::llround(thumbTime->seconds() * 1'000'000) - 1, 1'000'000);
    for (int i = 0; i < kThumbnailCount; ++i) {
        auto button = std::make_shared<ui::Button>(
                ui::Rect{i * width / kThumbnailCount, 0, width / kThumbnailCount, height});
        media::Time time = media::Time::make(seconds[i], 1);
        if (seconds[i] <= wholeSeconds && time.seconds() >= thumbTime->seconds()) {
            time = lastFrame;
        }
        auto [bitmap, error] = generator.copyImage(time);
        if (error) {
            print("PelmarVideoEditor: no thumbnail at " + std::to_string(seconds[i])
                  + " s: " + error->message);
        } else {
            button->setImage(ui::Image::fromBitmap(std::move(bitmap)), ui::ControlState::Normal);
        }
        button->setUserInteractionEnabled(false);
        strip->addSubview(button);
    }
}

void PelmarVideoEditor::createRangeSlider() {
    auto container = frameContainerView.lock();
    if (!container) {
        return;
    }
    const auto subviews = container->subviews();
    for (const auto& view : subviews) {
        if (view->tag() == kSliderTag) {
            view->removeFromSuperview();
        }
    }
    rangeSlider = RangeSlider::create(container->bounds());
    container->addSubview(rangeSlider);
    rangeSlider->setTag(kSliderTag);
    std::weak_ptr<PelmarVideoEditor> weak =
            std::static_pointer_cast<PelmarVideoEditor>(shared_from_this());
    std::weak_ptr<RangeSlider> weakSlider = rangeSlider;
    rangeSlider->addTarget(ui::ControlEvent::ValueChanged, [weak, weakSlider] {
        auto self = weak.lock();
        auto slider = weakSlider.lock();
        if (self && slider) {
            self->rangeSliderValueChanged(*slider);
        }
    });
    if (isSliderEnd) {
        const double end = static_cast<double>(thumbtimeSeconds.value_or(kSliderSeconds));
        rangeSlider->setMinimumValue(0.0);
        rangeSlider->setMaximumValue(end);
        rangeSlider->setUpperValue(end);
        isSliderEnd = !isSliderEnd;
    }
    // The finishing touch a second later sets the values the slider already has, redrawing it.
    dispatch::Queue::main()->asyncAfter(1.0, [weakSlider] {
        if (auto slider = weakSlider.lock()) {
            slider->setTrackHighlightTintColor(ui::Color::clear());
            slider->setCurvaceousness(1.0);
        }
    });
}

void PelmarVideoEditor::rangeSliderValueChanged(RangeSlider& slider) {
    if (player) {
        player->pause();
    }
    cropStartTime = slider.lowerValue();
    cropEndTime = slider.upperValue();
    seekVideo(slider.lowerLayerSelected ? slider.lowerValue() : slider.upperValue());
}

void PelmarVideoEditor::seekVideo(double toPos) {
    videoPlaybackPosition = toPos;
    if (!player) {
        return;
    }
    const int32_t timescale = player->currentTime().timescale;
    player->seek(media::Time::makeWithSeconds(toPos, timescale > 0 ? timescale : 600),
                 media::Time::zero(), media::Time::zero());
    if (toPos == static_cast<double>(thumbtimeSeconds.value_or(kSliderSeconds))) {
        player->pause();
    }
}

void PelmarVideoEditor::cropVideo() {
    if (url) {
        cropVideo(*url, static_cast<float>(cropStartTime), static_cast<float>(cropEndTime));
    }
}

std::string PelmarVideoEditor::outputFileName(double unixSeconds) {
    char buffer[64];
    auto [end, ec] =
            std::to_chars(buffer, buffer + sizeof buffer, unixSeconds, std::chars_format::fixed);
    std::string text = ec == std::errc() ? std::string(buffer, end) : std::to_string(unixSeconds);
    if (text.find('.') == std::string::npos) {
        text += ".0";
    }
    return "Pelmar_" + text + ".mp4";
}

void PelmarVideoEditor::cropVideo(const std::string& /*sourceURL*/,
                                  float startTime,
                                  float endTime) {
    const std::filesystem::path documents = foundation::Sandbox::documentsDirectory();
    if (documents.empty()) {
        return;
    }
    const std::filesystem::path folder = documents / "output";
    if (auto error = foundation::FileManager::createDirectory(folder, true)) {
        // Exporting onto the folder's own path would replace whatever is there: stop instead.
        print(error->message);
        return;
    }
    // Two exports within the clock's resolution still get names of their own.
    double seconds = dispatch::clock().wallNow();
    if (seconds <= lastOutputSeconds_) {
        seconds = std::nextafter(lastOutputSeconds_, HUGE_VAL);
    }
    lastOutputSeconds_ = seconds;
    const std::filesystem::path output = folder / outputFileName(seconds);
    (void)foundation::FileManager::removeItem(output);
    auto session =
            asset ? av::AssetExportSession::create(asset, av::kAssetExportPresetHighestQuality)
                  : nullptr;
    if (!session) {
        return;
    }
    session->setOutputURL(output);
    session->setOutputFileType(std::string(av::kFileTypeMPEG4));
    const media::Time start = media::Time::makeWithSeconds(startTime, 1000);
    const media::Time end = media::Time::makeWithSeconds(endTime, 1000);
    session->setTimeRange(av::TimeRange::make(start, end - start));
    // The completion keeps the screen until it has run, also after the screen was closed.
    auto self = std::static_pointer_cast<PelmarVideoEditor>(shared_from_this());
    session->exportAsynchronously([self, session, output] {
        const auto error = session->error();
        const std::string reason = error ? error->description() : "nil";
        switch (session->status()) {
            case av::AssetExportSession::Status::Completed:
                self->print("exported at " + foundation::fileURLFromPath(output));
                self->saveToCameraRoll(output);
                break;
            case av::AssetExportSession::Status::Failed:
                self->print("failed " + reason);
                break;
            case av::AssetExportSession::Status::Cancelled:
                self->print("cancelled " + reason);
                break;
            default:
                break;
        }
    });
}

void PelmarVideoEditor::saveToCameraRoll(const std::filesystem::path& URL) {
    auto self = std::static_pointer_cast<PelmarVideoEditor>(shared_from_this());
    photos::PhotoLibrary::shared().performChanges(
            [URL] { photos::AssetChangeRequest::creationRequestForAssetFromVideo(URL); },
            [self](bool success, std::optional<Error> error) {
                if (!success) {
                    // Nothing is shown and the screen stays; the reason (a refused library among
                    // them) goes to the console.
                    self->print("PelmarVideoEditor: the trimmed video was not saved: "
                                + (error ? error->description() : std::string("no reason")));
                    return;
                }
                dispatch::Queue::main()->async([self] {
                    self->dismiss(true, [self] {
                        auto parent =
                                self->pelmar_ ? self->pelmar_->getParentViewController() : nullptr;
                        if (!parent) {
                            return;
                        }
                        auto alert = std::make_shared<ui::AlertController>(
                                "Trimmed video was successfully saved.", "");
                        alert->addAction(
                                ui::AlertAction{"OK", ui::AlertAction::Style::Default, nullptr});
                        parent->present(alert, true);
                    });
                });
            });
}

void PelmarVideoEditor::onClose() {
    dismiss(true);
}

}  // namespace pelmar
