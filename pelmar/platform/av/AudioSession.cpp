#include "pelmar/platform/av/AudioSession.h"

#include <utility>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureEnvironment.h"

namespace pelmar::av {

AudioSession& AudioSession::shared() {
    static AudioSession* session = new AudioSession();
    return *session;
}

void AudioSession::reset() {
    MutexLock lock(mutex_);
    category_ = AudioSessionCategory::ambient;
    mode_ = AudioSessionMode::defaultMode;
    options_ = 0;
    active_ = false;
    failCategory_ = false;
    failActive_ = false;
    scriptedInputs_.reset();
}

void AudioSession::setCategory(AudioSessionCategory category,
                               AudioSessionMode mode,
                               uint32_t options) {
    MutexLock lock(mutex_);
    if (failCategory_) {
        throw AudioError(AudioErrorCode::sessionCategoryFailed,
                         "The audio session category couldn't be set");
    }
    category_ = category;
    mode_ = mode;
    options_ = options;
}

void AudioSession::setActive(bool active) {
    MutexLock lock(mutex_);
    if (failActive_) {
        throw AudioError(AudioErrorCode::sessionActivationFailed,
                         "The audio session couldn't be activated");
    }
    active_ = active;
}

AudioSessionCategory AudioSession::category() const {
    MutexLock lock(mutex_);
    return category_;
}

AudioSessionMode AudioSession::mode() const {
    MutexLock lock(mutex_);
    return mode_;
}

uint32_t AudioSession::categoryOptions() const {
    MutexLock lock(mutex_);
    return options_;
}

bool AudioSession::isActive() const {
    MutexLock lock(mutex_);
    return active_;
}

RecordPermission AudioSession::recordPermission() const {
    switch (CaptureDevice::authorizationStatus(MediaType::Audio)) {
        case AuthorizationStatus::Authorized:
            return RecordPermission::granted;
        case AuthorizationStatus::NotDetermined:
            return RecordPermission::undetermined;
        default:
            return RecordPermission::denied;
    }
}

void AudioSession::requestRecordPermission(std::function<void(bool granted)> completion) {
    CaptureDevice::requestAccess(MediaType::Audio, std::move(completion));
}

std::vector<AudioSessionPortDescription> AudioSession::availableInputs() const {
    {
        MutexLock lock(mutex_);
        if (scriptedInputs_) {
            return *scriptedInputs_;
        }
    }
    std::vector<AudioSessionPortDescription> inputs;
    for (const auto& device : CaptureEnvironment::shared().devices()) {
        if (device->mediaType() == MediaType::Audio) {
            inputs.push_back({std::string(kAudioSessionPortBuiltInMic), device->localizedName(),
                              device->uniqueID()});
        }
    }
    return inputs;
}

void AudioSession::setAvailableInputs(
        std::optional<std::vector<AudioSessionPortDescription>> inputs) {
    MutexLock lock(mutex_);
    scriptedInputs_ = std::move(inputs);
}

void AudioSession::failSetCategory(bool fail) {
    MutexLock lock(mutex_);
    failCategory_ = fail;
}

void AudioSession::failSetActive(bool fail) {
    MutexLock lock(mutex_);
    failActive_ = fail;
}

}  // namespace pelmar::av
