#include "pelmar/platform/av/CaptureOrientation.h"

#include "pelmar/platform/ui/Application.h"

namespace pelmar::av {

VideoOrientation interfaceVideoOrientation() {
    // Interface and video orientations share their numbers 1 to 4.
    const int interface = static_cast<int>(ui::Application::shared().statusBarOrientation());
    return (interface >= 2 && interface <= 4) ? static_cast<VideoOrientation>(interface)
                                              : VideoOrientation::Portrait;
}

}  // namespace pelmar::av
