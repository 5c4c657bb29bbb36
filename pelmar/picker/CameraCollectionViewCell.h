#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/ItemCell.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

// CameraCollectionViewCell: a grid tile showing the camera behind an icon: when camera access is
// already granted it gets a medium-quality session with the default camera and a preview layer
// the size of the cell (filling it, in the camera background's layer); otherwise (or without a
// camera) none. The session is never started. It also keeps an icon for taking a photo (none
// until a host sets one) and a serial queue for session work, which the cell itself never uses.
// Ownership: reference object from std::make_shared; owns its session, layer and queue.
// Threads: main thread only.
// Errors: none; a camera that cannot be opened leaves the cell without a session.
class CameraCollectionViewCell : public ui::ItemCell {
public:
    CameraCollectionViewCell();

    const std::shared_ptr<ui::ImageView>& imageView() const { return imageView_; }

    const std::shared_ptr<ui::View>& cameraBackground() const { return cameraBackground_; }

    const std::shared_ptr<av::CaptureSession>& session() const { return session_; }

    const std::shared_ptr<av::CaptureVideoPreviewLayer>& captureLayer() const { return layer_; }

    std::shared_ptr<const ui::Image> takePhotoIcon() const { return takePhotoIcon_; }

    void setTakePhotoIcon(std::shared_ptr<const ui::Image> icon) {
        takePhotoIcon_ = std::move(icon);
    }

    // Serial, labelled "AVCaptureVideoPreviewLayer".
    const std::shared_ptr<dispatch::Queue>& sessionQueue() const { return sessionQueue_; }

    // Where the preview layer sits (the cell's bounds).
    ui::Rect captureLayerFrame() const { return layer_ ? layer_->frame() : ui::Rect{}; }

    void layoutSubviews() override;

protected:
    std::string className() const override { return "CameraCollectionViewCell"; }

private:
    std::shared_ptr<ui::ImageView> imageView_;
    std::shared_ptr<ui::View> cameraBackground_;
    std::shared_ptr<const ui::Image> takePhotoIcon_;
    std::shared_ptr<av::CaptureSession> session_;
    std::shared_ptr<av::CaptureVideoPreviewLayer> layer_;
    std::shared_ptr<dispatch::Queue> sessionQueue_;
    bool subviewsAdded_ = false;
};

// CameraPreviewView: a view whose layer is a capture preview layer; its session is the layer's.
class CameraPreviewView : public ui::View {
public:
    std::shared_ptr<av::CaptureVideoPreviewLayer> videoPreviewLayer();

    std::shared_ptr<av::CaptureSession> session() const { return session_; }

    void setSession(std::shared_ptr<av::CaptureSession> session);

protected:
    std::shared_ptr<ui::Layer> makeLayer() override;

    std::string className() const override { return "CameraPreviewView"; }

private:
    std::shared_ptr<av::CaptureSession> session_;
};

// CameraViewController: a screen showing the preview of its own capture session. While camera
// access is not determined its session queue waits for the answer; any answer lets the queue go
// on (a suspended queue must not be left behind), and the queued set-up does nothing without
// access.
// Ownership: reference object from std::make_shared; owns its session, view and queue.
// Threads: main thread only; the set-up work runs on the session queue.
// Errors: none.
class CameraViewController : public ui::ViewController {
public:
    CameraViewController();

    const std::shared_ptr<av::CaptureSession>& captureSession() const { return session_; }

    const std::shared_ptr<CameraPreviewView>& previewView() const { return previewView_; }

    const std::shared_ptr<dispatch::Queue>& captureSessionQueue() const { return queue_; }

    // How often the queued set-up ran with access granted.
    int setUpRuns() const { return setUpRuns_->load(); }

    void viewDidLoad() override;

private:
    void requestAuthorization();
    void setupSession();

    std::shared_ptr<av::CaptureSession> session_;
    std::shared_ptr<CameraPreviewView> previewView_;
    std::shared_ptr<dispatch::Queue> queue_;
    std::shared_ptr<std::atomic<int>> setUpRuns_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace pelmar
