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

    // The device point of interest under `point` (in this view's coordinates), as the preview
    // layer converts it for its orientation and mirroring.
    av::DevicePoint captureDevicePoint(ui::Point point);

    // `face` (device coordinates) with its bounds in this view's coordinates, as the preview
    // layer turns it.
    av::MetadataFaceObject transformedMetadataObject(const av::MetadataFaceObject& face);

protected:
    std::shared_ptr<ui::Layer> makeLayer() override;
};

}  // namespace pelmar
