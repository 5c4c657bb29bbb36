#include "pelmar/audio/ViewModel.h"

#include <string>
#include <utility>

#include "pelmar/audio/AudioFileURL.h"
#include "pelmar/audio/AudioNotifications.h"
#include "pelmar/audio/AudioPlayerManager.h"
#include "pelmar/audio/AudioRecorderManager.h"
#include "pelmar/platform/foundation/Console.h"

namespace pelmar {

std::shared_ptr<ViewModel> ViewModel::create() {
    std::shared_ptr<ViewModel> model(new ViewModel());
    std::weak_ptr<ViewModel> weak = model;
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto level = [weak](const foundation::Notification& n) {
        if (auto self = weak.lock()) {
            self->didReceiveMeteringLevelUpdate(n);
        }
    };
    auto finish = [weak](const foundation::Notification& n) {
        if (auto self = weak.lock()) {
            self->didFinishRecordOrPlayAudio(n);
        }
    };
    auto fail = [weak](const foundation::Notification& n) {
        if (auto self = weak.lock()) {
            self->didFailRecording(n);
        }
    };
    model->tokens_.push_back(center.addObserver(
            std::string(kAudioPlayerManagerMeteringLevelDidUpdateNotification), level));
    model->tokens_.push_back(center.addObserver(
            std::string(kAudioRecorderManagerMeteringLevelDidUpdateNotification), level));
    model->tokens_.push_back(center.addObserver(
            std::string(kAudioPlayerManagerMeteringLevelDidFinishNotification), finish));
    model->tokens_.push_back(center.addObserver(
            std::string(kAudioRecorderManagerMeteringLevelDidFinishNotification), finish));
    model->tokens_.push_back(center.addObserver(
            std::string(kAudioRecorderManagerMeteringLevelDidFailNotification), fail));
    return model;
}

void ViewModel::askAudioRecordingPermission(std::function<void(bool)> completion) {
    AudioRecorderManager::shared()->askPermission(std::move(completion));
}

void ViewModel::startRecording(StartCompletion completion) {
    std::weak_ptr<ViewModel> weak = weak_from_this();
    AudioRecorderManager::shared()->startRecording(
            audioVisualizationTimeInterval,
            [weak, completion = std::move(completion)](std::optional<std::filesystem::path> url,
                                                       std::exception_ptr error) {
                if (url) {
                    if (auto self = weak.lock()) {
                        self->audioFilePathLocal = url;
                        self->meteringLevels = std::vector<float>{};
                    }
                    foundation::Console::print("sound record created at url "
                                               + AudioFileURL::absoluteString(*url) + ")");
                    if (completion) {
                        completion(url, std::vector<float>{}, nullptr);
                    }
                    return;
                }
                if (completion) {
                    completion(std::nullopt, std::nullopt, error);
                }
            });
}

void ViewModel::stopRecording() {
    AudioRecorderManager::shared()->stopRecording();
}

void ViewModel::pauseRecording() {
    AudioRecorderManager::shared()->pauseRecording();
}

void ViewModel::resumeRecording() {
    AudioRecorderManager::shared()->resumeRecording();
}

void ViewModel::resetRecording() {
    AudioRecorderManager::shared()->reset();
    isPlaying_ = false;
    audioFilePathLocal.reset();
    meteringLevels.reset();
}

double ViewModel::startPlaying() {
    if (isPlaying_) {
        try {
            return AudioPlayerManager::shared()->resume();
        } catch (...) {
            return 0;
        }
    }
    if (!audioFilePathLocal) {
        // Nothing recorded: nothing to play.
        return 0;
    }
    isPlaying_ = true;
    try {
        return AudioPlayerManager::shared()->play(*audioFilePathLocal,
                                                  audioVisualizationTimeInterval);
    } catch (...) {
        return 0;
    }
}

void ViewModel::setCurrentTime(double seconds) {
    AudioPlayerManager::shared()->setCurrentTime(seconds);
}

void ViewModel::pausePlaying() {
    AudioPlayerManager::shared()->pause();
}

bool ViewModel::ownsActivity(const foundation::Notification& notification) const {
    if (notification.objectAs<AudioPlayerManager>()) {
        return isPlaying_;
    }
    return audioFilePathLocal.has_value();
}

void ViewModel::didReceiveMeteringLevelUpdate(const foundation::Notification& notification) {
    const auto key = std::string(kAudioPercentageUserInfoKey);
    if (!ownsActivity(notification) || !notification.userInfo.is_object()
        || !notification.userInfo.contains(key) || !notification.userInfo[key].is_number()) {
        return;
    }
    if (audioMeteringLevelUpdate) {
        audioMeteringLevelUpdate(notification.userInfo[key].get<float>());
    }
}

void ViewModel::didFinishRecordOrPlayAudio(const foundation::Notification& notification) {
    // The recorder tells of a stop only after it has finished the file, which can be after the
    // user has already started playing the recording: that playback is not over.
    const bool recorderFinishedLate = !notification.objectAs<AudioPlayerManager>() && isPlaying_;
    if (ownsActivity(notification) && !recorderFinishedLate && audioDidFinish) {
        audioDidFinish();
    }
}

void ViewModel::didFailRecording(const foundation::Notification& notification) {
    if (ownsActivity(notification) && audioDidFail) {
        audioDidFail();
    }
}

}  // namespace pelmar
