#pragma once

#include <memory>

#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::qr::internal {

// CameraPreviewView: shows what the session's camera sees through its preview layer, filling the
// view with the picture's aspect kept, once the session has a camera input.
// Ownership: reference object made with std::make_shared; its layer holds the session.
// Threads: main thread only.
// Errors: none; without a picture it shows nothing.
class CameraPreviewView : public ui::View {
public:
    using ui::View::View;

    std::shared_ptr<av::CaptureVideoPreviewLayer> previewLayer();

protected:
    std::shared_ptr<ui::Layer> makeLayer() override;

    std::string className() const override { return "CameraPreviewView"; }
};

}  // namespace pelmar::qr::internal
