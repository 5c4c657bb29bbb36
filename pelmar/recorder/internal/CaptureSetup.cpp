#include "pelmar/recorder/internal/CaptureSetup.h"

#include <string>
#include <utility>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/recorder/internal/RecorderQueues.h"

namespace pelmar::recorder::internal {

namespace {

// The refusals heard so far. Answers may come at once on different threads; the one reported is
// always the refusal of the permission asked last, whichever answer came first.
class Refusals {
public:
    explicit Refusals(std::function<void(AVCamSetupResult)> refuse) : refuse_(std::move(refuse)) {}

    // `order`: the permission's place in the order of asking.
    void add(int order, AVCamSetupResult refusal) {
        MutexLock lock(mutex_);
        if (order > latestOrder_) {
            latestOrder_ = order;
            latest_ = refusal;
        }
        refuse_(latest_);
    }

private:
    Mutex mutex_;
    const std::function<void(AVCamSetupResult)> refuse_;
    int latestOrder_ PELMAR_GUARDED_BY(mutex_) = -1;
    AVCamSetupResult latest_ PELMAR_GUARDED_BY(mutex_) = AVCamSetupResult::none;
};

}  // namespace

void askCapturePermissions(const std::shared_ptr<dispatch::Queue>& queue,
                           const std::function<void(AVCamSetupResult)>& refuse) {
    struct Permission {
        int order;
        av::MediaType media;
        AVCamSetupResult refusal;
    };

    auto refusals = std::make_shared<Refusals>(refuse);
    for (const Permission p :
         {Permission{0, av::MediaType::Video, AVCamSetupResult::cameraNotAuthorized},
          Permission{1, av::MediaType::Audio, AVCamSetupResult::micNotAuthorized}}) {
        switch (av::CaptureDevice::authorizationStatus(p.media)) {
            case av::AuthorizationStatus::Authorized:
                break;
            case av::AuthorizationStatus::NotDetermined:
                queue->suspend();
                av::CaptureDevice::requestAccess(p.media, [queue, p, refusals](bool granted) {
                    if (!granted) {
                        refusals->add(p.order, p.refusal);
                    }
                    queue->resume();
                });
                break;
            case av::AuthorizationStatus::Denied:
            case av::AuthorizationStatus::Restricted:
                refusals->add(p.order, p.refusal);
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

int captureVideoWidth(const std::shared_ptr<CapturePreviewView>& preview) {
    auto connection = preview ? preview->videoPreviewLayer()->connection() : nullptr;
    if (connection
        && (connection->videoOrientation() == av::VideoOrientation::LandscapeRight
            || connection->videoOrientation() == av::VideoOrientation::LandscapeLeft)) {
        return 1920;
    }
    return 1080;
}

void orientVideoOutput(const std::shared_ptr<av::CaptureVideoDataOutput>& output,
                       av::VideoOrientation orientation) {
    auto connection = output ? output->connection(av::MediaType::Video) : nullptr;
    if (!connection) {
        return;
    }
    if (connection->isVideoStabilizationSupported()) {
        connection->setPreferredVideoStabilizationMode(av::VideoStabilizationMode::Auto);
    }
    connection->setVideoOrientation(orientation);
}

CameraSwitch cameraSwitchFrom(av::CaptureDevicePosition current) {
    if (current == av::CaptureDevicePosition::Back) {
        return {av::CaptureDevicePosition::Front, true};
    }
    return {av::CaptureDevicePosition::Back, false};
}

void copyPreviewOrientation(const std::shared_ptr<CapturePreviewView>& preview,
                            const std::shared_ptr<av::CaptureVideoDataOutput>& output) {
    auto from = preview ? preview->videoPreviewLayer()->connection() : nullptr;
    auto to = output ? output->connection(av::MediaType::Video) : nullptr;
    if (from && to) {
        to->setVideoOrientation(from->videoOrientation());
    }
}

void showSessionRunning(bool running,
                        const std::shared_ptr<ui::Button>& cameraButton,
                        const std::shared_ptr<ui::Button>& recordButton,
                        const std::shared_ptr<CapturePreviewView>& preview) {
    if (cameraButton) {
        cameraButton->setEnabled(running && moreThanOneCamera());
    }
    if (recordButton) {
        recordButton->setEnabled(running);
    }
    if (preview) {
        auto layer = preview->layer();
        layer->setOpacity(0);
        if (running) {
            ui::View::animate(0.25, [layer] { layer->setOpacity(1); });
        }
    }
}

CaptureDataOutputs addCaptureDataOutputs(
        av::CaptureSession& session,
        const std::weak_ptr<av::CaptureDataOutputSampleBufferDelegate>& delegate,
        const std::shared_ptr<dispatch::Queue>& queue,
        bool mirrored) {
    CaptureDataOutputs outputs{av::CaptureAudioDataOutput::create(),
                               av::CaptureVideoDataOutput::create()};
    outputs.audio->setSampleBufferDelegate(delegate, queue);
    session.addOutput(outputs.audio);

    outputs.video->setAlwaysDiscardsLateVideoFrames(true);
    outputs.video->setPixelFormat(media::PixelFormat::BGRA32);
    outputs.video->setSampleBufferDelegate(delegate, queue);
    session.addOutput(outputs.video);
    if (auto connection = outputs.video->connection(av::MediaType::Video)) {
        if (connection->isVideoStabilizationSupported()) {
            connection->setPreferredVideoStabilizationMode(av::VideoStabilizationMode::Auto);
        }
        connection->setVideoMirrored(mirrored);
    }
    return outputs;
}

}  // namespace pelmar::recorder::internal
