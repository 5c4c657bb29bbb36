#include "pelmar/audio/AudioPlayerManager.h"

#include <utility>

#include "pelmar/audio/AudioFileURL.h"
#include "pelmar/audio/AudioNotifications.h"
#include "pelmar/audio/AudioRecorderManager.h"
#include "pelmar/audio/internal/SharedInstance.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar {

using foundation::Console;

namespace {
audio::internal::SharedInstance<AudioPlayerManager>& sharedPlayerManager() {
    static audio::internal::SharedInstance<AudioPlayerManager> slot;
    return slot;
}
}  // namespace

std::shared_ptr<AudioPlayerManager> AudioPlayerManager::shared() {
    return sharedPlayerManager().get(
            [] { return std::shared_ptr<AudioPlayerManager>(new AudioPlayerManager()); });
}

void AudioPlayerManager::resetShared() {
    // Torn down outside the slot's lock, as stopping may call back into the managers.
    auto instance = sharedPlayerManager().take();
    if (instance) {
        instance->invalidateMeteringTimer();
        if (instance->player_) {
            instance->player_->setDelegate({});
            instance->player_->stop();
        }
    }
    instance.reset();
}

AudioPlayerManager::~AudioPlayerManager() {
    invalidateMeteringTimer();
}

bool AudioPlayerManager::hasMeteringTimer() const {
    return meteringTimer_ && meteringTimer_->isValid();
}

void AudioPlayerManager::invalidateMeteringTimer() {
    if (meteringTimer_) {
        meteringTimer_->invalidate();
        meteringTimer_.reset();
    }
}

double AudioPlayerManager::play(const std::filesystem::path& url, double interval) {
    if (AudioRecorderManager::shared()->isRunning()) {
        Console::print("Audio Player did fail to start: AVFoundation is recording");
        throw AudioException(AudioErrorType::alreadyRecording);
    }
    if (player_ && player_->isPlaying()) {
        Console::print("Audio Player did fail to start: already playing a file");
        throw AudioException(AudioErrorType::alreadyPlaying);
    }
    if (!AudioFileURL::checkPath(url)) {
        Console::print("Audio Player did fail to start: file doesn't exist");
        throw AudioException(AudioErrorType::audioFileWrongPath);
    }
    av::AudioSession::shared().setCategory(av::AudioSessionCategory::playback);
    auto player = av::AudioPlayer::create(url.string());
    if (player_) {
        player_->setDelegate({});
        player_->stop();
    }
    player_ = std::move(player);
    player_->play();
    player_->setMeteringEnabled(true);
    player_->setDelegate(std::static_pointer_cast<AudioPlayerDelegate>(shared_from_this()));
    invalidateMeteringTimer();
    std::weak_ptr<AudioPlayerManager> weak = weak_from_this();
    meteringTimer_ = dispatch::Timer::scheduled(interval, true, [weak] {
        if (auto self = weak.lock()) {
            self->timerDidUpdateMeter();
        }
    });
    Console::print("Started to play sound");
    return player_->duration();
}

double AudioPlayerManager::resume() {
    if (!player_) {
        Console::print("Audio Player did fail to resume for internal reason");
        throw AudioException(AudioErrorType::internalError);
    }
    if (!player_->play()) {
        Console::print("Audio Player did fail to resume for internal reason");
        throw AudioException(AudioErrorType::internalError);
    }
    Console::print("Resumed sound");
    return player_->duration() - player_->currentTime();
}

void AudioPlayerManager::pause() {
    if (player_ && player_->isPlaying()) {
        player_->pause();
        Console::print("Paused current playing sound");
    }
}

void AudioPlayerManager::setCurrentTime(double seconds) {
    if (player_) {
        player_->setCurrentTime(seconds);
    }
}

void AudioPlayerManager::timerDidUpdateMeter() {
    if (!player_ || !player_->isPlaying()) {
        return;
    }
    player_->updateMeters();
    const float level = meteringLevel(player_->averagePower(0));
    foundation::NotificationCenter::defaultCenter().post(
            kAudioPlayerManagerMeteringLevelDidUpdateNotification, shared_from_this(),
            Json{{std::string(kAudioPercentageUserInfoKey), level}});
}

void AudioPlayerManager::audioPlayerDidFinishPlaying(av::AudioPlayer&, bool) {
    foundation::NotificationCenter::defaultCenter().post(
            kAudioPlayerManagerMeteringLevelDidFinishNotification, shared_from_this());
}

}  // namespace pelmar
