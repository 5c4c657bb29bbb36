#include "pelmar/qr/PelmarQRCodeReaderViewController.h"

#include <cmath>
#include <utility>

#include "pelmar/platform/av/CaptureDeviceDiscoverySession.h"
#include "pelmar/platform/av/CaptureDeviceInput.h"
#include "pelmar/platform/av/CaptureOrientation.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/qr/internal/CameraPreviewView.h"
#include "pelmar/qr/internal/PelmarQRCodeReaderNib.h"

namespace pelmar {

PelmarQRCodeReaderViewController::PelmarQRCodeReaderViewController()
    : ui::ViewController(kNibName), captureSession_(av::CaptureSession::create()) {
    qr::internal::registerPelmarQRCodeReaderNib();
}

PelmarQRCodeReaderViewController::~PelmarQRCodeReaderViewController() {
    captureSession_->stopRunning();
}

std::shared_ptr<av::CaptureVideoPreviewLayer> PelmarQRCodeReaderViewController::cameraPreviewLayer()
        const {
    auto view = std::dynamic_pointer_cast<qr::internal::CameraPreviewView>(cameraPreview_);
    return view ? view->previewLayer() : nullptr;
}

bool PelmarQRCodeReaderViewController::flashSupported() const {
    auto camera =
            av::CaptureDevice::defaultDevice(av::CaptureDeviceType::BuiltInWideAngleCamera,
                                             av::MediaType::Video, av::CaptureDevicePosition::Back);
    return camera && camera->hasFlash();
}

ui::Point PelmarQRCodeReaderViewController::calcCenter(ui::Rect frame) {
    return {frame.x + frame.width / 2, frame.y + frame.height / 2};
}

double PelmarQRCodeReaderViewController::calcDistance(ui::Point p1, ui::Point p2) {
    return std::hypot(p2.x - p1.x, p2.y - p1.y);
}

void PelmarQRCodeReaderViewController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    setupCaptureSession();
    setupDevice();
    setupInputOutput();
    setupPreviewLayer();
    captureSession_->startRunning();
    // The metadata output comes after the start, asking for every type it offers by then; the
    // QR filter is applied to each delivery.
    metadataOutput_ = av::CaptureMetadataOutput::create();
    captureSession_->addOutput(metadataOutput_);
    metadataOutput_->setMetadataObjectsDelegate(
            std::static_pointer_cast<PelmarQRCodeReaderViewController>(shared_from_this()),
            dispatch::Queue::main());
    metadataOutput_->setMetadataObjectTypes(metadataOutput_->availableMetadataObjectTypes());
}

void PelmarQRCodeReaderViewController::setupCaptureSession() {
    captureSession_->setSessionPreset(av::SessionPreset::Photo);
}

void PelmarQRCodeReaderViewController::setupDevice() {
    const auto discovery = av::CaptureDeviceDiscoverySession::discoverySession(
            {av::CaptureDeviceType::BuiltInWideAngleCamera}, av::MediaType::Video,
            av::CaptureDevicePosition::Unspecified);
    for (const auto& device : discovery.devices()) {
        if (device->position() == av::CaptureDevicePosition::Back) {
            mainCamera_ = device;
        } else if (device->position() == av::CaptureDevicePosition::Front) {
            innerCamera_ = device;
        }
    }
    currentDevice_ = mainCamera_;
}

void PelmarQRCodeReaderViewController::setupInputOutput() {
    Error error;
    auto input = av::CaptureDeviceInput::create(currentDevice_, &error);
    if (!input) {
        foundation::Console::print(error.description());
        return;
    }
    captureSession_->addInput(input);
    photoOutput_ = av::CapturePhotoOutput::create();
    photoOutput_->setPreparedPhotoSettingsArray({{av::CapturePhotoOutput::kJPEG}});
    captureSession_->addOutput(photoOutput_);
}

void PelmarQRCodeReaderViewController::setupPreviewLayer() {
    auto root = view();
    auto camera = std::make_shared<qr::internal::CameraPreviewView>(root->frame());
    camera->setUserInteractionEnabled(false);
    auto layer = camera->previewLayer();
    layer->setSession(captureSession_);
    root->insertSubview(camera, 0);
    cameraPreview_ = std::move(camera);
    resetVideoOrientation();
}

void PelmarQRCodeReaderViewController::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    resetVideoOrientation();
}

void PelmarQRCodeReaderViewController::viewDidDisappear(bool animated) {
    ui::ViewController::viewDidDisappear(animated);
    if (isBeingDismissed()) {
        gone_ = true;
        captureSession_->stopRunning();
    }
}

void PelmarQRCodeReaderViewController::viewWillTransition(ui::Size size) {
    ui::ViewController::viewWillTransition(size);
    resetVideoOrientation();
}

void PelmarQRCodeReaderViewController::resetVideoOrientation() {
    auto layer = cameraPreviewLayer();
    if (auto connection = layer ? layer->connection() : nullptr) {
        connection->setVideoOrientation(av::interfaceVideoOrientation());
    }
}

void PelmarQRCodeReaderViewController::metadataOutputObjects(
        const std::shared_ptr<av::CaptureMetadataOutput>& /*output*/,
        const std::vector<av::MetadataObject>& objects,
        const std::shared_ptr<av::CaptureConnection>& /*connection*/) {
    if (objects.empty() || gone_) {
        return;
    }
    const auto& first = objects.front();
    if (!first.isMachineReadableCode() || first.type != av::CaptureMetadataOutput::kQRCode
        || !first.stringValue) {
        return;
    }
    if (closeAfterSuccessfulScan) {
        if (accepted_) {
            return;
        }
        accepted_ = true;
    }
    std::weak_ptr<PelmarQRCodeReaderViewController> weak =
            std::static_pointer_cast<PelmarQRCodeReaderViewController>(shared_from_this());
    dispatch::Queue::main()->async([weak, text = *first.stringValue] {
        auto self = weak.lock();
        if (!self || self->gone_) {
            return;
        }
        if (self->closeAfterSuccessfulScan) {
            self->captureSession_->stopRunning();
        }
        self->qrScaned(text);
    });
}

void PelmarQRCodeReaderViewController::qrScaned(const std::string& text) {
    // The delay holds the screen weakly: a screen that has gone by then reports nothing. The
    // dismissal it starts keeps the screen alive until it has told the delegate.
    std::weak_ptr<PelmarQRCodeReaderViewController> weak =
            std::static_pointer_cast<PelmarQRCodeReaderViewController>(shared_from_this());
    dispatch::Queue::main()->asyncAfter(kReportDelaySeconds, [weak, text] {
        auto self = weak.lock();
        if (!self || self->gone_) {
            return;
        }
        self->dismiss(true, [self, text] {
            if (self->qrScannerDelegate) {
                self->qrScannerDelegate->qrCodeScaned(text);
            }
        });
    });
}

void PelmarQRCodeReaderViewController::onBack() {
    auto self = std::static_pointer_cast<PelmarQRCodeReaderViewController>(shared_from_this());
    dismiss(true, [self] {
        if (self->qrScannerDelegate) {
            self->qrScannerDelegate->qrCodeScanCancelledByUser();
        }
    });
}

}  // namespace pelmar
