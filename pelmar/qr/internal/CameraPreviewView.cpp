#include "pelmar/qr/internal/CameraPreviewView.h"

namespace pelmar::qr::internal {

std::shared_ptr<ui::Layer> CameraPreviewView::makeLayer() {
    auto layer = std::make_shared<av::CaptureVideoPreviewLayer>();
    layer->setVideoGravity(av::LayerVideoGravity::ResizeAspectFill);
    return layer;
}

std::shared_ptr<av::CaptureVideoPreviewLayer> CameraPreviewView::previewLayer() {
    return std::static_pointer_cast<av::CaptureVideoPreviewLayer>(layer());
}

}  // namespace pelmar::qr::internal
