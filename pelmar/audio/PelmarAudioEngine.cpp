#include "pelmar/audio/PelmarAudioEngine.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "pelmar/audio/SpringboardData.h"
#include "pelmar/audio/internal/SharedInstance.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/mediaplayer/NowPlayingInfoCenter.h"

namespace pelmar {

namespace {

constexpr int32_t kSeekTimescale = 100;

audio::internal::SharedInstance<PelmarAudioEngine>& sharedEngine() {
    static audio::internal::SharedInstance<PelmarAudioEngine> slot;
    return slot;
}

}  // namespace

std::optional<SkipDirection> skipDirectionFromRawValue(double raw) {
    if (raw == -1.0) {
        return SkipDirection::backward;
    }
    if (raw == 1.0) {
        return SkipDirection::forward;
    }
    return std::nullopt;
}

std::shared_ptr<PelmarAudioEngine> PelmarAudioEngine::sharedInstance() {
    return sharedEngine().get([] {
        std::shared_ptr<PelmarAudioEngine> engine(new PelmarAudioEngine());
        engine->setupNotifications();
        return engine;
    });
}

void PelmarAudioEngine::resetShared() {
    if (auto instance = sharedEngine().take()) {
        instance->player_->pause();
    }
}

PelmarAudioEngine::PelmarAudioEngine() : player_(std::make_shared<av::Player>()) {}

PelmarAudioEngine::~PelmarAudioEngine() = default;

bool PelmarAudioEngine::isPlaying() const {
    return player_->rate() != 0;
}

void PelmarAudioEngine::setIsPlaying(bool playing) {
    if (!playing) {
        player_->pause();
        return;
    }
    player_->play();
    if (currentPlayingItem_) {
        SpringboardData::updateLockScreenCurrentTime(currentTimeInSeconds());
    }
}

double PelmarAudioEngine::currentTimeInSeconds() const {
    return player_->currentTime().seconds();
}

void PelmarAudioEngine::playPauseMediaFile(const std::string& audioUrl,
                                           const Json& /*springboardInfo*/,
                                           double startTime,
                                           Completion completion) {
    const double requestTime = currentTimeInSeconds();
    if (currentPlayingItem_ && *currentPlayingItem_ == audioUrl) {
        setIsPlaying(!isPlaying());
        if (completion) {
            completion(std::nullopt, requestTime);
        }
        return;
    }
    const uint64_t request = ++request_;
    std::weak_ptr<PelmarAudioEngine> weak = weak_from_this();
    // Reading the duration may block on the network, so it happens off the main thread; the
    // result is stored on the main thread, where the engine lives.
    dispatch::Queue::global()->async([weak, audioUrl, startTime, requestTime, request,
                                      completion = std::move(completion)] {
        auto asset = av::URLAsset::create(audioUrl);
        const double seconds = asset->duration().seconds();
        dispatch::Queue::main()->async([weak, asset, seconds, audioUrl, startTime, requestTime,
                                        request, completion] {
            auto self = weak.lock();
            if (!self || request != self->request_) {
                return;
            }
            self->playerDuration_ = seconds;
            self->prepareAndPlay(
                    asset, startTime, request, [weak, audioUrl, requestTime, completion] {
                        auto engine = weak.lock();
                        if (!engine) {
                            return;
                        }
                        auto previous = std::exchange(engine->currentPlayingItem_, audioUrl);
                        if (completion) {
                            completion(std::move(previous), requestTime);
                        }
                    });
        });
    });
}

void PelmarAudioEngine::prepareAndPlay(const std::shared_ptr<av::URLAsset>& asset,
                                       double startTime,
                                       uint64_t request,
                                       std::function<void()> completion) {
    try {
        av::AudioSession::shared().setCategory(av::AudioSessionCategory::playback);
        mediaplayer::NowPlayingInfoCenter::defaultCenter().beginReceivingRemoteControlEvents();
    } catch (const std::exception& e) {
        foundation::Console::print(e.what());
    }
    player_->pause();
    timeRangesObservation_.reset();
    auto item = av::PlayerItem::create(asset);
    player_->replaceCurrentItem(item);
    std::weak_ptr<PelmarAudioEngine> weak = weak_from_this();
    // A local item loads whole once it is ready; an HTTP item's range grows as its bytes arrive.
    timeRangesObservation_ = item->loadedTimeRanges.observe(
            [weak](const auto& change) {
                auto self = weak.lock();
                if (!self || change.isPrior || !change.newValue || change.newValue->empty()) {
                    return;
                }
                const av::TimeRange& first = change.newValue->front();
                const double duration = self->durationInSeconds();
                const double loaded = first.start.seconds() + first.duration.seconds();
                // Without a usable duration there is no share to tell.
                if (!std::isfinite(duration) || duration <= 0 || !std::isfinite(loaded)) {
                    return;
                }
                foundation::NotificationCenter::defaultCenter().post(
                        kMediaLoadProgress,
                        std::make_shared<double>(std::clamp(loaded * 100 / duration, 0.0, 100.0)));
            },
            {.initial = true});
    seekPlayerToTime(startTime, [weak, request, completion = std::move(completion)] {
        auto self = weak.lock();
        if (!self || request != self->request_) {
            return;
        }
        self->player_->play();
        if (completion) {
            completion();
        }
    });
}

void PelmarAudioEngine::skipDirection(SkipDirection direction, double timeInterval, double offset) {
    const double target =
            direction == SkipDirection::forward ? offset + timeInterval : offset - timeInterval;
    std::weak_ptr<PelmarAudioEngine> weak = weak_from_this();
    player_->seek(media::Time::makeWithSeconds(target, kSeekTimescale), [weak](bool) {
        if (auto self = weak.lock()) {
            SpringboardData::updateLockScreenCurrentTime(self->currentTimeInSeconds());
        }
    });
}

void PelmarAudioEngine::seekPlayerToTime(double value, std::function<void()> completion) {
    player_->seek(media::Time::makeWithSeconds(value, kSeekTimescale),
                  [completion = std::move(completion)](bool) {
                      if (completion) {
                          dispatch::Queue::main()->async(completion);
                      }
                  });
}

bool PelmarAudioEngine::isCurrentItem(const foundation::Notification& notification) const {
    auto item = notification.objectAs<av::PlayerItem>();
    return item && item == player_->currentItem();
}

void PelmarAudioEngine::playingStalled(const foundation::Notification& notification) {
    if (!isCurrentItem(notification)) {
        return;
    }
    foundation::NotificationCenter::defaultCenter().post(kPlayerStalled, player_->currentItem());
}

void PelmarAudioEngine::playerDidReachEnd(const foundation::Notification& notification) {
    if (!isCurrentItem(notification)) {
        return;
    }
    player_->seek(media::Time::zero());
    foundation::NotificationCenter::defaultCenter().post(kPlayerDidReachEnd);
}

void PelmarAudioEngine::playerItemTimeJumpedNotification(
        const foundation::Notification& notification) {
    if (!isCurrentItem(notification)) {
        return;
    }
    foundation::NotificationCenter::defaultCenter().post(
            kPlayerTimeDidChange, std::make_shared<double>(currentTimeInSeconds()));
}

void PelmarAudioEngine::setupNotifications() {
    std::weak_ptr<PelmarAudioEngine> weak = weak_from_this();
    auto handler = [weak](void (PelmarAudioEngine::*method)(const foundation::Notification&)) {
        return [weak, method](const foundation::Notification& n) {
            if (auto self = weak.lock()) {
                ((*self).*method)(n);
            }
        };
    };
    auto& center = foundation::NotificationCenter::defaultCenter();
    tokens_.push_back(center.addObserver(std::string(av::kPlayerItemDidPlayToEndTimeNotification),
                                         handler(&PelmarAudioEngine::playerDidReachEnd)));
    tokens_.push_back(center.addObserver(std::string(av::kPlayerItemPlaybackStalledNotification),
                                         handler(&PelmarAudioEngine::playingStalled)));
    tokens_.push_back(
            center.addObserver(std::string(av::kPlayerItemTimeJumpedNotification),
                               handler(&PelmarAudioEngine::playerItemTimeJumpedNotification)));
}

}  // namespace pelmar
