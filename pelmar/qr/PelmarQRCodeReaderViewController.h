#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/PelmarQRScannerDelegate.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/av/CapturePhotoOutput.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

// PelmarQRCodeReaderViewController: the full-screen camera screen that reads QR codes and hands
// their text to the host app's QR delegate. On load it runs the back wide-angle camera with a
// photo output and a metadata output that reports every code type; a delivery whose first object
// is a QR code with text is accepted: 2.0 s later (on the clock) the screen dismisses itself and
// then tells the delegate qrCodeScaned. With closeAfterSuccessfulScan the camera stops at the
// first accepted code and only that one is reported; without it every accepted delivery gives
// its own dismissal and report while the screen is there. Once its dismissal has ended the screen
// has gone: the camera stops and no delivery, and no report still waiting for its 2.0 s, reaches
// the delegate (nor keeps the screen alive). The back button dismisses the screen, then tells the
// delegate qrCodeScanCancelledByUser. The camera's picture stands upright in the interface's
// orientation, on opening and after every turn, as the recorders' previews do. Without a back
// camera the screen shows no picture and never reports a code; the back button still works.
// Ownership: make with std::make_shared; the presenting controller keeps it. It owns its capture
//     session (stopped when the screen goes) and holds its delegate strongly; the metadata output
//     refers to it weakly.
// Threads: main thread only; the metadata output delivers on the main queue.
// Errors: a camera that cannot be used is printed to the console and nothing else happens.
class PelmarQRCodeReaderViewController : public ui::ViewController,
                                         public av::MetadataOutputObjectsDelegate {
public:
    static constexpr const char* kNibName = "PelmarQRCodeReaderViewController";
    // From the accepted code to the dismissal.
    static constexpr double kReportDelaySeconds = 2.0;

    PelmarQRCodeReaderViewController();

    ~PelmarQRCodeReaderViewController() override;

    // Outlets of the interface file.
    std::weak_ptr<ui::View> preview;
    std::shared_ptr<ui::Button> backButton;

    std::shared_ptr<PelmarQRScannerDelegate> qrScannerDelegate;
    // Not read by the scanning.
    std::optional<ui::Rect> qrScopeLayer;
    bool closeAfterSuccessfulScan = true;

    const std::shared_ptr<av::CaptureSession>& captureSession() const { return captureSession_; }

    const std::shared_ptr<av::CaptureDevice>& mainCamera() const { return mainCamera_; }

    const std::shared_ptr<av::CaptureDevice>& innerCamera() const { return innerCamera_; }

    const std::shared_ptr<av::CaptureDevice>& currentDevice() const { return currentDevice_; }

    const std::shared_ptr<av::CapturePhotoOutput>& photoOutput() const { return photoOutput_; }

    const std::shared_ptr<av::CaptureMetadataOutput>& captureMetadataOutput() const {
        return metadataOutput_;
    }

    // The live picture's layer, below every view of the interface file; null before loading.
    std::shared_ptr<av::CaptureVideoPreviewLayer> cameraPreviewLayer() const;

    // Whether the default back wide-angle camera has a flash (false without one).
    bool flashSupported() const;

    // The back button's action.
    void onBack();

    // Schedules the dismissal and the report of `text`.
    void qrScaned(const std::string& text);

    static ui::Point calcCenter(ui::Rect frame);

    static double calcDistance(ui::Point p1, ui::Point p2);

    void metadataOutputObjects(const std::shared_ptr<av::CaptureMetadataOutput>& output,
                               const std::vector<av::MetadataObject>& objects,
                               const std::shared_ptr<av::CaptureConnection>& connection) override;

protected:
    void viewDidLoad() override;

    void viewDidAppear(bool animated) override;

    // The end of the dismissal: the camera stops and the reports with it.
    void viewDidDisappear(bool animated) override;

    void viewWillTransition(ui::Size size) override;

    void setupCaptureSession();

    void setupDevice();

    void setupInputOutput();

    void setupPreviewLayer();

    // Turns the preview's picture to the interface's orientation.
    void resetVideoOrientation();

private:
    const std::shared_ptr<av::CaptureSession> captureSession_;
    std::shared_ptr<av::CaptureDevice> mainCamera_;
    std::shared_ptr<av::CaptureDevice> innerCamera_;
    std::shared_ptr<av::CaptureDevice> currentDevice_;
    std::shared_ptr<av::CapturePhotoOutput> photoOutput_;
    std::shared_ptr<av::CaptureMetadataOutput> metadataOutput_;
    std::shared_ptr<ui::View> cameraPreview_;
    // A code was accepted while closing after the first one: later deliveries, even those
    // already queued when the camera stopped, are not reported again.
    bool accepted_ = false;
    // The screen's dismissal has ended: nothing more is reported.
    bool gone_ = false;
};

}  // namespace pelmar
