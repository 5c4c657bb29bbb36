#pragma once

#include <memory>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/foundation/Error.h"

namespace pelmar::av {

// CaptureDeviceInput: feeds a capture device into a session.
// Ownership: shared by shared_ptr; holds its device.
// Threads: thread-safe (immutable).
// Errors: create() returns null and fills `error` (kCaptureErrorDomain,
//     kCaptureErrorDeviceUnavailable) for a null device or when the environment fails the device.
class CaptureDeviceInput {
public:
    static std::shared_ptr<CaptureDeviceInput> create(std::shared_ptr<CaptureDevice> device,
                                                      Error* error = nullptr);

    const std::shared_ptr<CaptureDevice>& device() const { return device_; }

private:
    explicit CaptureDeviceInput(std::shared_ptr<CaptureDevice> device)
        : device_(std::move(device)) {}

    std::shared_ptr<CaptureDevice> device_;
};

}  // namespace pelmar::av
