#include "pelmar/platform/av/CaptureDeviceInput.h"

#include <string>
#include <utility>

#include "pelmar/platform/av/CaptureEnvironment.h"

namespace pelmar::av {

std::shared_ptr<CaptureDeviceInput> CaptureDeviceInput::create(
        std::shared_ptr<CaptureDevice> device, Error* error) {
    if (!device || CaptureEnvironment::shared().deviceInputFails(device->mediaType())) {
        if (error) {
            *error = Error{
                    std::string(kCaptureErrorDomain), kCaptureErrorDeviceUnavailable,
                    "Cannot use "
                            + (device ? device->localizedName() : std::string("a missing device"))};
        }
        return nullptr;
    }
    return std::shared_ptr<CaptureDeviceInput>(new CaptureDeviceInput(std::move(device)));
}

}  // namespace pelmar::av
