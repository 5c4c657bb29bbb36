#include "pelmar/recorder/CapturePreviewView.h"

#include <algorithm>

namespace pelmar {

std::shared_ptr<av::CaptureVideoPreviewLayer> CapturePreviewView::videoPreviewLayer() {
    return std::static_pointer_cast<av::CaptureVideoPreviewLayer>(layer());
}

std::shared_ptr<ui::Layer> CapturePreviewView::makeLayer() {
    return std::make_shared<av::CaptureVideoPreviewLayer>();
}

av::DevicePoint CapturePreviewView::captureDevicePoint(ui::Point point) const {
    const ui::Rect b = bounds();
    auto share = [](double value, double length) {
        return length > 0 ? std::clamp(value / length, 0.0, 1.0) : 0.5;
    };
    return {share(point.x - b.x, b.width), share(point.y - b.y, b.height)};
}

}  // namespace pelmar
