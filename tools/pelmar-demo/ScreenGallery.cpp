#include "tools/pelmar-demo/ScreenGallery.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/audio/PelmarAudioPlayer.h"
#include "pelmar/audio/PelmarAudioRecorder.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/editor/CoverSelector.h"
#include "pelmar/editor/PelmarVideoEditor.h"
#include "pelmar/host/ScreenHost.h"
#include "pelmar/imageloader/PelmarCachedAnimatedImage.h"
#include "pelmar/imageviewer/PelmarImageViewController.h"
#include "pelmar/picker/AssetCollectionViewCell.h"
#include "pelmar/picker/AssetsViewController.h"
#include "pelmar/picker/ImagePickerController.h"
#include "pelmar/picker/PreviewViewController.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/image/ImageDecoder.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/PageViewController.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/player/PelmarPlayerController.h"
#include "pelmar/qr/PelmarQRCodeReaderViewController.h"
#include "pelmar/recorder/PelmarRecordedVideoPreview.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/custom/CustomVideoPlayer.h"
#include "pelmar/recorder/custom/CustomVideoRecorder.h"
#include "tools/pelmar-demo/GalleryMedia.h"
#include "tools/pelmar-demo/SampleVideo.h"

namespace pelmar::demo {

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage = "usage: pelmar-demo screens --out DIR\n";

// Real seconds a screen gets to reach a state before the gallery gives up on it.
constexpr double kPatienceSeconds = 30;
// Long enough for an animated presentation or dismissal to end.
constexpr double kTransitionSeconds = 0.6;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Shot {
    std::string file;
    std::string title;
};

// Opens the screens one after the other in one host, each from a clean top.
class Gallery {
public:
    Gallery(fs::path out, fs::path media) : out_(std::move(out)), media_(std::move(media)) {}

    // Every screen; false when one failed.
    bool run();

    const std::vector<Shot>& shots() const { return shots_; }

private:
    bool makeMedia();
    bool recorder();
    bool customRecorder();
    bool videoPlayer();
    bool audioRecorder();
    bool audioPlayer();
    bool picker();
    bool trimEditor();
    bool coverSelector();
    bool imageViewer();
    bool qrReader();

    // The top screen once it is a `T` that has appeared.
    template <class T>
    std::shared_ptr<T> waitForTop(const std::string& what) {
        std::shared_ptr<T> top;
        host_.runUntil(
                [&] {
                    top = std::dynamic_pointer_cast<T>(host_.topViewController());
                    return top && top->isAppeared();
                },
                kPatienceSeconds);
        if (!top || !top->isAppeared()) {
            return fail<T>(what + " did not open");
        }
        return top;
    }

    // A tap on the record button disables it until the session queue has started the recording;
    // that takes real time, so the clock is moved on only once the button is back.
    template <class Recorder>
    static bool recordingStarted(const Recorder& recorder) {
        auto button = recorder.recordButton.lock();
        return recorder.isRecording() && button && button->isEnabled();
    }

    bool waitFor(const std::string& what, const std::function<bool()>& predicate) {
        return host_.runUntil(predicate, kPatienceSeconds) || failed(what + " did not happen");
    }

    template <class V>
    bool tap(const std::string& what, const std::weak_ptr<V>& view) {
        auto shown = view.lock();
        if (!shown) {
            return failed("no " + what + " to tap");
        }
        if (auto refused = host_.tap(*shown)) {
            return failed("the tap on " + what + " was refused: " + *refused);
        }
        return true;
    }

    // A screen fed by a running camera or microphone never settles: its capture keeps the
    // background queues busy, so waiting for them would only let the recording run on, up to the
    // host's 30 s patience, which is also the recording limit the gallery sets. Such a screen is
    // shot as it is.
    enum class Feed { Still, Live };

    bool shoot(const std::string& file, const std::string& title, Feed feed = Feed::Still) {
        host_.runFor(0.1);
        if (feed == Feed::Still) {
            host_.settle();
        }
        if (auto error = host_.snapshot(out_ / file, 2)) {
            return failed(error->description());
        }
        shots_.push_back({file, title});
        std::printf("%-34s %s\n", file.c_str(), title.c_str());
        return true;
    }

    // Dismisses whatever the root presents and lets it go.
    void closeScreens() {
        if (host_.root()->presentedViewController()) {
            host_.root()->dismiss(false);
        }
        host_.runFor(kTransitionSeconds);
        host_.settle();
    }

    bool failed(const std::string& why) {
        std::fprintf(stderr, "pelmar-demo screens: %s: %s\n", screen_.c_str(), why.c_str());
        return false;
    }

    template <class T>
    std::shared_ptr<T> fail(const std::string& why) {
        failed(why);
        return nullptr;
    }

    const fs::path out_;
    const fs::path media_;
    ScreenHost host_;
    std::shared_ptr<Pelmar> sdk_ = std::make_shared<Pelmar>("demo-app");
    std::vector<Shot> shots_;
    std::string screen_;
    fs::path movie_;
    fs::path jpeg_;
    fs::path gif_;
    fs::path tone_;
};

bool Gallery::makeMedia() {
    screen_ = "media";
    std::error_code ec;
    fs::create_directories(media_, ec);
    movie_ = media_ / "sample.mp4";
    jpeg_ = media_ / "photo.jpg";
    gif_ = media_ / "ball.gif";
    tone_ = media_ / "tone.wav";
    for (const auto& error :
         {writeSampleVideo(movie_, 640, 360, 180, 30), writeGalleryJpeg(jpeg_, 1200, 800),
          writeGalleryGif(gif_, 240), writeGalleryWav(tone_, 8)}) {
        if (error) {
            return failed(*error);
        }
    }
    // The photo library the picker shows: four photos and the movie.
    auto& library = photos::PhotoLibrary::shared();
    library.reset(media_ / "PhotoLibrary");
    library.setAuthorizationStatus(photos::AuthorizationStatus::Authorized);
    for (int i = 0; i < 4; ++i) {
        const auto file = media_ / ("library" + std::to_string(i) + ".jpg");
        if (auto error =
                    writeGalleryJpeg(file, i % 2 == 0 ? 800 : 600, i % 2 == 0 ? 600 : 800, i)) {
            return failed(*error);
        }
        library.addAsset({.file = file, .creationDate = 1000.0 + i});
    }
    library.addAsset({.file = movie_, .creationDate = 2000.0});
    return true;
}

bool Gallery::recorder() {
    screen_ = "recorder";
    sdk_->setVideoRecorderConfig(Json{{"startDelay", 0}, {"maxDuration", 30}});
    sdk_->record();
    auto screen = waitForTop<PelmarRecorder>("the recorder");
    if (!screen || !waitFor("the recorder getting ready", [&] {
            auto button = screen->recordButton.lock();
            return screen->isSessionRunning() && button && button->isEnabled();
        })) {
        return false;
    }
    if (!tap("the record button", screen->recordButton)
        || !waitFor("the recorder recording", [&] { return recordingStarted(*screen); })) {
        return false;
    }
    host_.runFor(1.5);
    if (!shoot("recorder.png", "Recorder, recording", Feed::Live)) {
        return false;
    }
    if (!tap("the record button", screen->recordButton)) {
        return false;
    }
    auto preview = waitForTop<PelmarRecordedVideoPreview>("the recorder's preview");
    if (!preview) {
        return false;
    }
    host_.runFor(kTransitionSeconds);
    tap("the play button", preview->playPauseButton);
    host_.runFor(0.8);
    return shoot("recorder-preview.png", "Recorder's preview, playing");
}

bool Gallery::customRecorder() {
    screen_ = "custom recorder";
    auto recorder = CustomVideoRecorder::create(sdk_);
    recorder->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    host_.present(recorder);
    if (!waitForTop<CustomVideoRecorder>("the custom recorder")
        || !waitFor("the custom recorder getting ready", [&] {
               auto button = recorder->recordButton.lock();
               return recorder->isSessionRunning() && button && button->isEnabled();
           })) {
        return false;
    }
    if (!tap("the record button", recorder->recordButton)
        || !waitFor("the custom recorder recording", [&] { return recordingStarted(*recorder); })) {
        return false;
    }
    host_.runFor(1.5);
    if (!shoot("custom-recorder.png", "Custom recorder, recording", Feed::Live)
        || !tap("the record button", recorder->recordButton)) {
        return false;
    }
    auto preview = waitForTop<CustomVideoPlayer>("the custom recorder's preview");
    if (!preview) {
        return false;
    }
    host_.runFor(kTransitionSeconds);
    tap("the play button", preview->playPauseButton);
    host_.runFor(0.8);
    return shoot("custom-recorder-preview.png", "Custom recorder's preview, playing");
}

bool Gallery::videoPlayer() {
    screen_ = "video player";
    sdk_->playFromUri({movie_.string()});
    if (!waitForTop<PelmarPlayerController>("the player")) {
        return false;
    }
    host_.runFor(2);
    return shoot("video-player.png", "Video player, playing");
}

bool Gallery::audioRecorder() {
    screen_ = "audio recorder";
    host_.devices().setMicrophoneSignal(av::MicrophoneSignal::square(200, 0.3));
    sdk_->startAudioRecorder();
    auto screen = waitForTop<PelmarAudioRecorder>("the audio recorder");
    if (!screen || !tap("the record button", screen->recordContainerView)) {
        return false;
    }
    host_.runFor(3);
    return shoot("audio-recorder.png", "Audio recorder, recording", Feed::Live);
}

bool Gallery::audioPlayer() {
    screen_ = "audio player";
    sdk_->startAudioPlayer(Pelmar::AudioURLs{{tone_.string()}});
    if (!waitForTop<PelmarAudioPlayer>("the audio player")) {
        return false;
    }
    host_.runFor(2);
    return shoot("audio-player.png", "Audio player, playing");
}

bool Gallery::picker() {
    screen_ = "picker";
    sdk_->uploadFromFileSelector(Json{{"media_type", {"image", "video"}}});
    auto screen = waitForTop<ImagePickerController>("the picker");
    if (!screen) {
        return false;
    }
    auto grid = screen->assetsViewController();
    if (!waitFor("the picker's grid filling", [&] { return grid->cellAt(1) != nullptr; })) {
        return false;
    }
    host_.runFor(1);
    if (!shoot("picker-grid.png", "Picker, the grid")) {
        return false;
    }
    // A long press opens the picture's preview.
    auto cell = grid->cellAt(2);
    if (!cell) {
        return failed("no picture in the grid");
    }
    ui::TouchSequence finger(host_.window());
    const ui::Rect r = cell->convertTo(cell->bounds(), nullptr);
    if (auto refused = finger.begin({{r.x + r.width / 2, r.y + r.height / 2}})) {
        return failed("the long press was refused: " + *refused);
    }
    host_.runFor(0.8);
    finger.end();
    std::shared_ptr<PreviewViewController> preview;
    if (!waitFor("the picture's preview", [&] {
            preview = std::dynamic_pointer_cast<PreviewViewController>(screen->topViewController());
            return preview && preview->imageView()->image() != nullptr;
        })) {
        return false;
    }
    host_.runFor(kTransitionSeconds);
    return shoot("picker-preview.png", "Picker, a picture's preview");
}

bool Gallery::trimEditor() {
    screen_ = "trim editor";
    sdk_->trimVideo(movie_.string());
    auto editor = waitForTop<PelmarVideoEditor>("the trim editor");
    if (!editor
        || !waitFor("the trim editor's slider", [&] { return editor->rangeSlider != nullptr; })) {
        return false;
    }
    host_.runFor(1);
    return shoot("trim-editor.png", "Trim editor");
}

bool Gallery::coverSelector() {
    screen_ = "cover selector";
    auto selector = CoverSelector::create(movie_.string());
    selector->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    host_.present(selector);
    if (!waitForTop<CoverSelector>("the cover selector")
        || !waitFor("the covers", [&] { return !selector->covers().empty(); })) {
        return false;
    }
    host_.runFor(kTransitionSeconds);
    return shoot("cover-selector.png", "Cover selector");
}

bool Gallery::imageViewer() {
    screen_ = "image viewer";
    // The facade's showImage() hands file paths to the remote image loader, which takes only
    // http and https; the public viewer class takes the decoded pictures themselves.
    const auto photo = image::ImageDecoder::decode(readBytes(jpeg_));
    auto ball = PelmarCachedAnimatedImage::createWithAnimatedImageData(readBytes(gif_));
    if (!photo.bitmap || !ball) {
        return failed("the JPEG or the GIF does not decode");
    }
    auto viewer = std::make_shared<PelmarImageViewController>(
            std::vector<PelmarImageSource>{PelmarImage(photo.bitmap), ball});
    viewer->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    host_.present(viewer);
    if (!waitForTop<PelmarImageViewController>("the image viewer")) {
        return false;
    }
    host_.runFor(1);
    if (!shoot("image-viewer-jpeg.png", "Image viewer, a JPEG")) {
        return false;
    }
    if (!viewer->pagerVC()->swipe(ui::PageViewController::NavigationDirection::Forward)) {
        return failed("the viewer did not turn to the GIF");
    }
    host_.runFor(1);
    return shoot("image-viewer-gif.png", "Image viewer, an animated GIF");
}

bool Gallery::qrReader() {
    screen_ = "QR reader";
    // The camera looks at a code; the reader stops its camera at the first one it reads.
    auto code = galleryCodePicture("https://pelmar.example/welcome", 1080, 1920);
    if (!code) {
        return failed("no picture of a code");
    }
    host_.devices().setCameraImage(std::move(code));
    sdk_->startQrScanner(Json{{"closeAfterSuccessfulScan", true}});
    auto screen = waitForTop<PelmarQRCodeReaderViewController>("the QR reader");
    const bool read = screen && waitFor("the code being read", [&] {
                          return !screen->captureSession()->isRunning();
                      });
    const bool shot = read && shoot("qr-reader.png", "QR reader, reading a code");
    host_.devices().setCameraImage(nullptr);
    return shot;
}

bool Gallery::run() {
    if (!makeMedia()) {
        return false;
    }
    host_.devices().addBackCamera().addFrontCamera().addMicrophone();
    host_.permissions().grant(av::MediaType::Video).grant(av::MediaType::Audio);
    bool all = true;
    for (auto step :
         {&Gallery::recorder, &Gallery::customRecorder, &Gallery::videoPlayer,
          &Gallery::audioRecorder, &Gallery::audioPlayer, &Gallery::picker, &Gallery::trimEditor,
          &Gallery::coverSelector, &Gallery::imageViewer, &Gallery::qrReader}) {
        all = (this->*step)() && all;
        closeScreens();
    }
    return all;
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool writeContactSheet(const fs::path& file, const std::vector<Shot>& shots) {
    std::ofstream out(file);
    out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Pelmar screens</title>\n"
           "<style>body{font-family:sans-serif;background:#eee}"
           "figure{display:inline-block;margin:12px;text-align:center}"
           "img{width:195px;border:1px solid #999;background:#fff}</style></head>\n"
           "<body><h1>Pelmar screens</h1>\n";
    for (const auto& shot : shots) {
        out << "<figure><a href=\"" << htmlEscape(shot.file) << "\"><img src=\""
            << htmlEscape(shot.file) << "\" alt=\"" << htmlEscape(shot.title)
            << "\"></a><figcaption>" << htmlEscape(shot.title) << "</figcaption></figure>\n";
    }
    out << "</body></html>\n";
    return static_cast<bool>(out);
}

}  // namespace

int runScreenGallery(const std::vector<std::string>& arguments) {
    if (arguments.size() != 2 || arguments[0] != "--out" || arguments[1].empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const fs::path out = fs::absolute(arguments[1]);
    std::error_code ec;
    fs::create_directories(out, ec);
    if (!fs::is_directory(out)) {
        std::fprintf(stderr, "pelmar-demo screens: cannot make the folder %s\n", out.c_str());
        return 1;
    }
    // The host app's own sandbox, in a fresh folder, so that nothing of an earlier run shows.
    const fs::path sandbox = out / ".sandbox";
    fs::remove_all(sandbox, ec);
    foundation::Sandbox::setRoot(sandbox);
    bool all = false;
    std::vector<Shot> shots;
    {
        Gallery gallery(out, sandbox / "media");
        all = gallery.run();
        shots = gallery.shots();
    }
    photos::PhotoLibrary::shared().reset();
    fs::remove_all(sandbox, ec);
    if (!writeContactSheet(out / "index.html", shots)) {
        std::fprintf(stderr, "pelmar-demo screens: cannot write %s\n",
                     (out / "index.html").c_str());
        return 1;
    }
    std::printf("%zu screens in %s\n", shots.size(), (out / "index.html").c_str());
    return all ? 0 : 1;
}

}  // namespace pelmar::demo
