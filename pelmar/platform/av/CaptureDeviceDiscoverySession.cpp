#include "pelmar/platform/av/CaptureDeviceDiscoverySession.h"

#include <algorithm>

#include "pelmar/platform/av/CaptureEnvironment.h"

namespace pelmar::av {

CaptureDeviceDiscoverySession CaptureDeviceDiscoverySession::discoverySession(
        std::vector<CaptureDeviceType> types, MediaType media, CaptureDevicePosition position) {
    CaptureDeviceDiscoverySession session;
    for (const auto& device : CaptureEnvironment::shared().devices()) {
        const bool typeMatches =
                std::find(types.begin(), types.end(), device->deviceType()) != types.end();
        const bool positionMatches =
                position == CaptureDevicePosition::Unspecified || device->position() == position;
        if (typeMatches && device->mediaType() == media && positionMatches) {
            session.devices_.push_back(device);
        }
    }
    return session;
}

}  // namespace pelmar::av
