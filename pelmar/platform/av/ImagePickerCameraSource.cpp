#include "pelmar/platform/av/ImagePickerCameraSource.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>
#include <thread>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/AssetWriterInput.h"
#include "pelmar/platform/av/AssetWriterInputPixelBufferAdaptor.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/internal/SyntheticCapture.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar::av {

namespace {

constexpr int kFramesPerSecond = 30;
constexpr int kMovieWidth = 480;
constexpr int kMovieHeight = 640;

std::shared_ptr<media::PixelBuffer> patternFrame(int width, int height, int64_t index) {
    auto pixels = media::PixelBuffer::create(width, height, media::PixelFormat::BGRA32);
    if (pixels) {
        internal::SyntheticCapture::drawTestPattern(*pixels, index, false);
    }
    return pixels;
}

std::filesystem::path movieFile() {
    static std::mt19937_64 random{std::random_device{}()};
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    return foundation::Sandbox::temporaryDirectory()
           / ("capture-" + std::to_string(random()) + ".mp4");
}

// The camera's screen: a dark viewfinder, a shutter and a cancel button.
class CameraScreen : public ui::ViewController {
public:
    explicit CameraScreen(std::weak_ptr<ui::ImagePickerController> picker)
        : picker_(std::move(picker)) {}

    void loadView() override {
        auto root = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
        root->layer()->setBackgroundColor(ui::Color{0.1, 0.1, 0.1, 1});
        auto shutter = std::make_shared<ui::Button>(ui::Rect{160, 720, 70, 70});
        shutter->layer()->setBackgroundColor(ui::Color::white());
        shutter->layer()->setCornerRadius(35);
        auto cancel = std::make_shared<ui::Button>(ui::Rect{20, 735, 80, 40});
        cancel->setTitle("Cancel");
        std::weak_ptr<ui::ImagePickerController> picker = picker_;
        shutter->addTarget(ui::ControlEvent::TouchUpInside, [picker] {
            auto p = picker.lock();
            if (!p) {
                return;
            }
            if (p->offersImages()) {
                p->takePicture();
            } else if (!p->startVideoCapture()) {
                p->stopVideoCapture();
            }
        });
        cancel->addTarget(ui::ControlEvent::TouchUpInside, [picker] {
            if (auto p = picker.lock()) {
                p->cancelPicking();
            }
        });
        root->addSubview(shutter);
        root->addSubview(cancel);
        setView(root);
    }

private:
    std::weak_ptr<ui::ImagePickerController> picker_;
};

}  // namespace

void ImagePickerCameraSource::install() {
    static std::once_flag once;
    std::call_once(once, [] {
        ui::ImagePickerController::setSource(ui::ImagePickerSourceType::Camera,
                                             std::make_shared<ImagePickerCameraSource>());
    });
}

bool ImagePickerCameraSource::isAvailable() const {
    return !CaptureDevice::devices(MediaType::Video).empty();
}

std::vector<std::string> ImagePickerCameraSource::availableMediaTypes() const {
    return {std::string(ui::kImagePickerTypeImage), std::string(ui::kImagePickerTypeMovie)};
}

std::shared_ptr<ui::ViewController> ImagePickerCameraSource::makeRootScreen(
        ui::ImagePickerController& picker) {
    return std::make_shared<CameraScreen>(
            std::static_pointer_cast<ui::ImagePickerController>(picker.shared_from_this()));
}

bool ImagePickerCameraSource::takePicture(ui::ImagePickerController& picker) {
    if (!picker.offersImages()) {
        return false;
    }
    auto pixels = patternFrame(kPictureWidth, kPictureHeight, 0);
    ui::ImagePickerMediaInfo info;
    info.mediaType = std::string(ui::kImagePickerTypeImage);
    info.originalImage = ui::Image::fromBitmap(image::Bitmap::wrap(pixels));
    std::weak_ptr<ui::ImagePickerController> weak =
            std::static_pointer_cast<ui::ImagePickerController>(picker.shared_from_this());
    dispatch::Queue::main()->async([weak, info] {
        if (auto p = weak.lock()) {
            p->finishPicking(info);
        }
    });
    return true;
}

bool ImagePickerCameraSource::startVideoCapture(ui::ImagePickerController& picker) {
    if (!picker.offersMovies()) {
        return false;
    }
    MutexLock lock(mutex_);
    return captures_.emplace(&picker, dispatch::clock().now()).second;
}

void ImagePickerCameraSource::stopVideoCapture(ui::ImagePickerController& picker) {
    double started = 0;
    {
        MutexLock lock(mutex_);
        auto found = captures_.find(&picker);
        if (found == captures_.end()) {
            return;
        }
        started = found->second;
        captures_.erase(found);
    }
    const double seconds = dispatch::clock().now() - started;
    const int frames = std::max(1, static_cast<int>(std::lround(seconds * kFramesPerSecond)));
    std::weak_ptr<ui::ImagePickerController> weak =
            std::static_pointer_cast<ui::ImagePickerController>(picker.shared_from_this());
    auto giveUp = [weak] {
        dispatch::Queue::main()->async([weak] {
            if (auto p = weak.lock()) {
                p->cancelPicking();
            }
        });
    };
    const auto path = movieFile();
    // Written away from the main thread: the encoder takes its time, and each picture waits
    // until the track can take it.
    dispatch::Queue::global()->async([weak, path, frames, giveUp] {
        auto writer = AssetWriter::create(path);
        if (!writer) {
            giveUp();
            return;
        }
        auto input = AssetWriterInput::createVideo({kMovieWidth, kMovieHeight});
        auto adaptor =
                AssetWriterInputPixelBufferAdaptor::create(input, media::PixelFormat::BGRA32);
        writer->addInput(input);
        if (!writer->startWriting()) {
            giveUp();
            return;
        }
        writer->startSession(media::Time::make(0, kFramesPerSecond));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int i = 0; i < frames; ++i) {
            const auto picture = patternFrame(kMovieWidth, kMovieHeight, i);
            while (!adaptor->append(picture, media::Time::make(i, kFramesPerSecond))) {
                if (writer->status() != AssetWriter::Status::Writing
                    || std::chrono::steady_clock::now() > deadline) {
                    writer->cancelWriting();
                    giveUp();
                    return;
                }
                std::this_thread::yield();
            }
        }
        input->markAsFinished();
        writer->finishWriting([weak, writer, path, giveUp] {
            if (writer->status() != AssetWriter::Status::Completed) {
                giveUp();
                return;
            }
            ui::ImagePickerMediaInfo info;
            info.mediaType = std::string(ui::kImagePickerTypeMovie);
            info.mediaURL = "file://" + path.string();
            dispatch::Queue::main()->async([weak, info] {
                if (auto p = weak.lock()) {
                    p->finishPicking(info);
                }
            });
        });
    });
}

}  // namespace pelmar::av
