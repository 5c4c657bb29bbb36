#pragma once

#include <memory>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar {

// CapturePreviewView: the view that shows a capture session's live picture; its layer is always
// a capture preview layer, which alone keeps the session.
// Ownership: reference object made with std::make_shared (by the camera screens' interface
// files); its layer holds the session.
// Threads: main thread only.
// Errors: none.
class CapturePreviewView : public ui::View {
public:
    using ui::View::View;

    std::shared_ptr<av::CaptureVideoPreviewLayer> videoPreviewLayer();

    std::shared_ptr<av::CaptureSession> session() { return videoPreviewLayer()->session(); }

    void setSession(std::shared_ptr<av::CaptureSession> session) {
        videoPreviewLayer()->setSession(std::move(session));
    }

    // The device point of interest under `point` (in this view's coordinates): the point's
    // share of the view's width and height, kept within 0 to 1.
    av::DevicePoint captureDevicePoint(ui::Point point) const;

protected:
    std::shared_ptr<ui::Layer> makeLayer() override;
};

}  // namespace pelmar
