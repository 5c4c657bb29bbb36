#include "pelmar/recorder/CapturePreviewView.h"

namespace pelmar {

std::shared_ptr<av::CaptureVideoPreviewLayer> CapturePreviewView::videoPreviewLayer() {
    return std::static_pointer_cast<av::CaptureVideoPreviewLayer>(layer());
}

std::shared_ptr<ui::Layer> CapturePreviewView::makeLayer() {
    return std::make_shared<av::CaptureVideoPreviewLayer>();
}

}  // namespace pelmar
