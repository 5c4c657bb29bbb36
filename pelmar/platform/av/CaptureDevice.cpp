#include "pelmar/platform/av/CaptureDevice.h"

#include <utility>

#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar::av {

std::shared_ptr<CaptureDevice> CaptureDevice::make(std::string uniqueID,
                                                   std::string localizedName,
                                                   CaptureDeviceType type,
                                                   MediaType media,
                                                   CaptureDevicePosition position) {
    std::shared_ptr<CaptureDevice> device(new CaptureDevice());
    device->uniqueID_ = std::move(uniqueID);
    device->name_ = std::move(localizedName);
    device->type_ = type;
    device->media_ = media;
    device->position_ = position;
    device->center_ = foundation::NotificationCenter::create();
    return device;
}

AuthorizationStatus CaptureDevice::authorizationStatus(MediaType media) {
    return CaptureEnvironment::shared().authorizationStatus(media);
}

void CaptureDevice::requestAccess(MediaType media, std::function<void(bool granted)> completion) {
    auto& env = CaptureEnvironment::shared();
    env.countRequest(media);
    bool granted = false;
    if (env.authorizationStatus(media) == AuthorizationStatus::NotDetermined) {
        granted = env.requestAnswer(media);
        env.setAuthorizationStatus(
                media, granted ? AuthorizationStatus::Authorized : AuthorizationStatus::Denied);
    } else {
        granted = env.authorizationStatus(media) == AuthorizationStatus::Authorized;
    }
    if (!completion) {
        return;
    }
    dispatch::Queue::global()->asyncAfter(
            env.answerDelay(media),
            [completion = std::move(completion), granted] { completion(granted); });
}

std::shared_ptr<CaptureDevice> CaptureDevice::defaultDevice(CaptureDeviceType type,
                                                            MediaType media,
                                                            CaptureDevicePosition position) {
    for (const auto& device : CaptureEnvironment::shared().devices()) {
        if (device->type_ == type && device->media_ == media
            && (position == CaptureDevicePosition::Unspecified || device->position_ == position)) {
            return device;
        }
    }
    return nullptr;
}

std::shared_ptr<CaptureDevice> CaptureDevice::defaultDevice(MediaType media) {
    for (const auto& device : CaptureEnvironment::shared().devices()) {
        if (device->media_ == media) {
            return device;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<CaptureDevice>> CaptureDevice::devices(MediaType media) {
    std::vector<std::shared_ptr<CaptureDevice>> found;
    for (const auto& device : CaptureEnvironment::shared().devices()) {
        if (device->media_ == media) {
            found.push_back(device);
        }
    }
    return found;
}

bool CaptureDevice::lockForConfiguration(Error* error) {
    if (CaptureEnvironment::shared().lockForConfigurationFails()) {
        if (error) {
            *error = Error{std::string(kCaptureErrorDomain), kCaptureErrorLockFailed,
                           "The device could not be locked for configuration"};
        }
        return false;
    }
    locked_ = true;
    return true;
}

bool CaptureDevice::isFocusPointOfInterestSupported() const {
    return media_ == MediaType::Video && position_ != CaptureDevicePosition::Front;
}

bool CaptureDevice::isFocusModeSupported(FocusMode mode) const {
    if (media_ != MediaType::Video) {
        return false;
    }
    return position_ != CaptureDevicePosition::Front || mode == FocusMode::Locked;
}

void CaptureDevice::simulateSubjectAreaChange() {
    center_->post(kSubjectAreaDidChangeNotification);
}

}  // namespace pelmar::av
