#include "pelmar/picker/CameraCollectionViewCell.h"

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureDeviceInput.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar {

CameraCollectionViewCell::CameraCollectionViewCell()
    : imageView_(std::make_shared<ui::ImageView>()),
      cameraBackground_(std::make_shared<ui::View>()),
      sessionQueue_(dispatch::Queue::serial("AVCaptureVideoPreviewLayer")) {
    imageView_->setContentMode(ui::ContentMode::Center);
    if (av::CaptureDevice::authorizationStatus(av::MediaType::Video)
        != av::AuthorizationStatus::Authorized) {
        return;
    }
    session_ = av::CaptureSession::create();
    session_->setSessionPreset(av::SessionPreset::Medium);
    auto input =
            av::CaptureDeviceInput::create(av::CaptureDevice::defaultDevice(av::MediaType::Video));
    if (!input) {
        session_.reset();
        return;
    }
    session_->addInput(input);
    layer_ = std::make_shared<av::CaptureVideoPreviewLayer>();
    layer_->setSession(session_);
    layer_->setVideoGravity(av::LayerVideoGravity::ResizeAspectFill);
    layer_->setFrame(bounds());
    cameraBackground_->layer()->addSublayer(layer_);
}

void CameraCollectionViewCell::layoutSubviews() {
    ItemCell::layoutSubviews();
    if (!subviewsAdded_) {
        addSubview(cameraBackground_);
        addSubview(imageView_);
        subviewsAdded_ = true;
    }
    cameraBackground_->setFrame(bounds());
    imageView_->setFrame(bounds());
    if (layer_) {
        layer_->setFrame(bounds());
    }
}

std::shared_ptr<ui::Layer> CameraPreviewView::makeLayer() {
    return std::make_shared<av::CaptureVideoPreviewLayer>();
}

std::shared_ptr<av::CaptureVideoPreviewLayer> CameraPreviewView::videoPreviewLayer() {
    return std::dynamic_pointer_cast<av::CaptureVideoPreviewLayer>(layer());
}

void CameraPreviewView::setSession(std::shared_ptr<av::CaptureSession> session) {
    session_ = session;
    if (auto preview = videoPreviewLayer()) {
        preview->setSession(std::move(session));
    }
}

CameraViewController::CameraViewController()
    : session_(av::CaptureSession::create()),
      previewView_(std::make_shared<CameraPreviewView>()),
      queue_(dispatch::Queue::serial("session queue")) {}

void CameraViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    previewView_->setSession(session_);
    previewView_->setFrame(view()->bounds());
    view()->addSubview(previewView_);
    requestAuthorization();
    setupSession();
}

void CameraViewController::requestAuthorization() {
    if (av::CaptureDevice::authorizationStatus(av::MediaType::Video)
        != av::AuthorizationStatus::NotDetermined) {
        return;
    }
    queue_->suspend();
    // The queue goes on whatever the answer: a queue left suspended would never run or end.
    av::CaptureDevice::requestAccess(av::MediaType::Video,
                                     [queue = queue_](bool) { queue->resume(); });
}

void CameraViewController::setupSession() {
    // The work holds no reference to the screen: it runs off the main thread.
    queue_->async([runs = setUpRuns_] {
        if (av::CaptureDevice::authorizationStatus(av::MediaType::Video)
            == av::AuthorizationStatus::Authorized) {
            ++*runs;
        }
    });
}

}  // namespace pelmar
