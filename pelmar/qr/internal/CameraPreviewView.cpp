#include "pelmar/qr/internal/CameraPreviewView.h"

#include <algorithm>

#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/ui/GraphicsContext.h"

namespace pelmar::internal {

std::shared_ptr<ui::Layer> CameraPreviewView::makeLayer() {
    return std::make_shared<av::CaptureVideoPreviewLayer>();
}

std::shared_ptr<av::CaptureVideoPreviewLayer> CameraPreviewView::previewLayer() {
    return std::static_pointer_cast<av::CaptureVideoPreviewLayer>(layer());
}

void CameraPreviewView::draw(ui::GraphicsContext& context) {
    auto session = previewLayer()->session();
    auto picture = av::CaptureEnvironment::shared().cameraImage();
    // A stopped camera keeps showing its last picture.
    if (!session || !session->videoDevice() || !picture) {
        return;
    }
    // Drawing only reads the pixels; the environment's picture is never changed.
    auto bitmap = image::Bitmap::wrap(std::const_pointer_cast<media::PixelBuffer>(picture));
    if (!bitmap) {
        return;
    }
    const ui::Rect b = bounds();
    const double scale = std::max(b.width / picture->width(), b.height / picture->height());
    const double w = picture->width() * scale;
    const double h = picture->height() * scale;
    context.saveState();
    context.clipToRect(b);
    context.drawBitmap(*bitmap, {(b.width - w) / 2, (b.height - h) / 2, w, h});
    context.restoreState();
}

}  // namespace pelmar::internal
