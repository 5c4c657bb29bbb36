#include "pelmar/recorder/CapturePreviewView.h"

namespace pelmar {

std::shared_ptr<av::CaptureVideoPreviewLayer> CapturePreviewView::videoPreviewLayer() {
    return std::static_pointer_cast<av::CaptureVideoPreviewLayer>(layer());
}

std::shared_ptr<ui::Layer> CapturePreviewView::makeLayer() {
    return std::make_shared<av::CaptureVideoPreviewLayer>();
}

av::DevicePoint CapturePreviewView::captureDevicePoint(ui::Point point) {
    return videoPreviewLayer()->captureDevicePointConverted(point, bounds());
}

av::MetadataFaceObject CapturePreviewView::transformedMetadataObject(
        const av::MetadataFaceObject& face) {
    return videoPreviewLayer()->transformedMetadataObject(face, bounds());
}

}  // namespace pelmar
