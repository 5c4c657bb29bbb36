#pragma once

#include <memory>
#include <vector>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureTypes.h"

namespace pelmar::av {

// CaptureDeviceDiscoverySession: the capture devices of some types, for a media type, at a
// position (Unspecified: any position), in the order the environment lists them.
// Ownership: value type; holds the devices found when it was made.
// Threads: thread-compatible.
// Errors: none; no matching device gives an empty list.
class CaptureDeviceDiscoverySession {
public:
    static CaptureDeviceDiscoverySession discoverySession(std::vector<CaptureDeviceType> types,
                                                          MediaType media,
                                                          CaptureDevicePosition position);

    const std::vector<std::shared_ptr<CaptureDevice>>& devices() const { return devices_; }

private:
    std::vector<std::shared_ptr<CaptureDevice>> devices_;
};

}  // namespace pelmar::av
