#include "pelmar/audio/PelmarAudioPlayer.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "pelmar/audio/PelmarAudioEngine.h"
#include "pelmar/audio/SpringboardData.h"
#include "pelmar/audio/internal/PelmarAudioPlayerNib.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/ui/ActivityIndicatorView.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Resources.h"
#include "pelmar/platform/ui/Slider.h"

namespace pelmar {

namespace {

constexpr double kSliderTimerSeconds = 1.0;

void setText(const std::weak_ptr<ui::Label>& label, std::string text) {
    if (auto l = label.lock()) {
        l->setText(std::move(text));
    }
}

template <typename V>
void setHidden(const std::weak_ptr<V>& view, bool hidden) {
    if (auto v = view.lock()) {
        v->setHidden(hidden);
    }
}

// Runs `work` now on the main thread, or on the main queue from another thread.
void onMain(std::function<void()> work) {
    if (dispatch::isMainThread()) {
        work();
    } else {
        dispatch::Queue::main()->async(std::move(work));
    }
}

}  // namespace

std::shared_ptr<PelmarAudioPlayer> PelmarAudioPlayer::create(std::shared_ptr<Pelmar> application,
                                                             std::vector<std::string> paths) {
    return std::make_shared<PelmarAudioPlayer>(Key{}, std::move(application), std::move(paths));
}

PelmarAudioPlayer::PelmarAudioPlayer(Key,
                                     std::shared_ptr<Pelmar> application,
                                     std::vector<std::string> paths)
    : ui::ViewController("PelmarAudioPlayer"),
      pelmar_(std::move(application)),
      paths_(std::move(paths)) {
    audio::internal::registerPelmarAudioPlayerNib();
}

PelmarAudioPlayer::~PelmarAudioPlayer() {
    if (sliderTimer_) {
        sliderTimer_->invalidate();
    }
}

template <typename Call>
void PelmarAudioPlayer::tellDelegate(Call call) {
    if (!pelmar_) {
        return;
    }
    if (auto delegate = pelmar_->playerDelegate()) {
        call(*delegate);
    }
}

bool PelmarAudioPlayer::hasSliderTimer() const {
    return sliderTimer_ && sliderTimer_->isValid();
}

std::string PelmarAudioPlayer::timeLabelString(int64_t seconds) {
    const int64_t minutes = seconds / 60;
    const int64_t rest = seconds - 60 * minutes;
    return std::to_string(minutes) + (rest > 9 ? ":" : ":0") + std::to_string(rest);
}

std::string PelmarAudioPlayer::longTimeString(int64_t seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>((seconds % 3600) / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::shared_ptr<const ui::Image> PelmarAudioPlayer::getImageFromResource(const std::string& name) {
    return ui::Image::named(name);
}

void PelmarAudioPlayer::setPlayImage(const std::string& name) {
    if (auto view = playImageView.lock()) {
        view->setImage(getImageFromResource(name));
    }
}

void PelmarAudioPlayer::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    loadAudio();
    hideLoadingIndicator();
    onPlayOrPause();
}

void PelmarAudioPlayer::viewWillAppear(bool animated) {
    ui::ViewController::viewWillAppear(animated);
    tokens_.clear();
    std::weak_ptr<PelmarAudioPlayer> weak =
            std::static_pointer_cast<PelmarAudioPlayer>(shared_from_this());
    auto handler = [weak](void (PelmarAudioPlayer::*method)(const foundation::Notification&)) {
        return [weak, method](const foundation::Notification& n) {
            onMain([weak, method, n] {
                if (auto self = weak.lock()) {
                    ((*self).*method)(n);
                }
            });
        };
    };
    auto& center = foundation::NotificationCenter::defaultCenter();
    tokens_.push_back(center.addObserver(std::string(kMediaLoadProgress),
                                         handler(&PelmarAudioPlayer::episodeLoadedNotification)));
    tokens_.push_back(
            center.addObserver(std::string(kPlayerDidReachEnd),
                               handler(&PelmarAudioPlayer::playerDidReachEndNotification)));
}

void PelmarAudioPlayer::viewDidAppear(bool animated) {
    ui::ViewController::viewDidAppear(animated);
    // Nothing to play: the screen has nothing to offer.
    if (paths_.empty() && !closed_) {
        close(false);
    }
}

void PelmarAudioPlayer::viewWillDisappear(bool animated) {
    ui::ViewController::viewWillDisappear(animated);
    setPlayImage("play-black");
    tokens_.clear();
    stopTimer();
}

void PelmarAudioPlayer::loadAudio() {
    if (PelmarAudioEngine::sharedInstance()->isPlaying()) {
        onPlayOrPause();
    }
    setText(statusLabel, "Loading");
    setText(durationLabel, "00:00:00");
    setText(currentTimeLabel, "00:00");
    setText(totalTimeLabel, "00:00");
    if (auto slider = timeSlider.lock()) {
        slider->setValue(0);
    }
    setPlayImage("play-black");
    stopTimer();
    showLoadingIndicator();
}

void PelmarAudioPlayer::onPlayOrPause() {
    if (paths_.empty()) {
        return;
    }
    showLoadingIndicator();
    const auto icon = ui::Resources::installed().imagePath("icon");
    const Json info = SpringboardData::springboardDictionary("Pelmar", "", 300, "Pelmar Title",
                                                             icon ? icon->string() : "");
    const std::string url = paths_[static_cast<size_t>(currentItemIndex_)];
    std::weak_ptr<PelmarAudioPlayer> weak =
            std::static_pointer_cast<PelmarAudioPlayer>(shared_from_this());
    PelmarAudioEngine::sharedInstance()->playPauseMediaFile(
            url, info, 0, [weak](std::optional<std::string>, double) {
                auto self = weak.lock();
                if (!self || self->closed_) {
                    // The screen went while the entry was being prepared: nothing should play
                    // for it now.
                    auto engine = PelmarAudioEngine::sharedInstance();
                    if (engine->isPlaying()) {
                        engine->setIsPlaying(false);
                    }
                    return;
                }
                auto play = self->playButtonView.lock();
                if (play && play->isHidden()) {
                    self->tellDelegate([](PelmarPlayerDelegate& d) { d.playerReadyToPlay(); });
                }
                self->hideLoadingIndicator();
                self->setupSlider();
                self->updatePlayButton();
            });
}

void PelmarAudioPlayer::showLoadingIndicator() {
    setHidden(beforeButtonView, true);
    setHidden(rewindButtonView, true);
    setHidden(playButtonView, true);
    setHidden(forwardButtonView, true);
    setHidden(nextButtonView, true);
    setHidden(durationLabel, true);
    if (auto indicator = loadingIndicator.lock()) {
        indicator->setHidden(false);
        indicator->startAnimating();
    }
}

void PelmarAudioPlayer::hideLoadingIndicator() {
    setHidden(playButtonView, false);
    setHidden(rewindButtonView, false);
    setHidden(forwardButtonView, false);
    const bool several = paths_.size() >= 2;
    setHidden(beforeButtonView, !several);
    setHidden(nextButtonView, !several);
    setHidden(durationLabel, false);
    if (auto indicator = loadingIndicator.lock()) {
        indicator->setHidden(true);
        indicator->stopAnimating();
    }
}

void PelmarAudioPlayer::setupSlider() {
    const double duration = PelmarAudioEngine::sharedInstance()->durationInSeconds();
    if (auto slider = timeSlider.lock()) {
        slider->setMinimumValue(0);
        slider->setMaximumValue(static_cast<float>(duration));
    }
    stopTimer();
    std::weak_ptr<PelmarAudioPlayer> weak =
            std::static_pointer_cast<PelmarAudioPlayer>(shared_from_this());
    sliderTimer_ = dispatch::Timer::scheduled(kSliderTimerSeconds, true, [weak] {
        if (auto self = weak.lock()) {
            self->sliderTimerTriggered();
        }
    });
    if (std::isfinite(duration)) {
        setText(totalTimeLabel, timeLabelString(static_cast<int64_t>(duration)));
    }
}

void PelmarAudioPlayer::sliderTimerTriggered() {
    const auto t = static_cast<float>(PelmarAudioEngine::sharedInstance()->currentTimeInSeconds());
    if (auto slider = timeSlider.lock()) {
        slider->setValue(t);
    }
    updateCurrentTimeLabel(t);
}

void PelmarAudioPlayer::updateCurrentTimeLabel(float seconds) {
    if (!std::isfinite(seconds)) {
        return;
    }
    const float rounded = std::round(seconds * 100) / 100;
    if (rounded != beforeSeekTime_) {
        tellDelegate(
                [rounded](PelmarPlayerDelegate& d) { d.playerSeek(static_cast<double>(rounded)); });
        beforeSeekTime_ = rounded;
    }
    const auto whole = static_cast<int64_t>(seconds);
    setText(durationLabel, longTimeString(whole));
    setText(currentTimeLabel, timeLabelString(whole));
}

void PelmarAudioPlayer::updatePlayButton() {
    if (PelmarAudioEngine::sharedInstance()->isPlaying()) {
        setText(statusLabel, "Playing");
        setPlayImage("pause-black");
        tellDelegate([](PelmarPlayerDelegate& d) { d.playerPlaying(); });
    } else {
        setText(statusLabel, "Paused");
        setPlayImage("play-black");
        tellDelegate([](PelmarPlayerDelegate& d) { d.playerPaused(); });
    }
}

void PelmarAudioPlayer::onChangeCurrentTime() {
    auto engine = PelmarAudioEngine::sharedInstance();
    auto slider = timeSlider.lock();
    if (!slider || !engine->isPlaying()) {
        return;
    }
    std::weak_ptr<PelmarAudioPlayer> weak =
            std::static_pointer_cast<PelmarAudioPlayer>(shared_from_this());
    engine->seekPlayerToTime(static_cast<double>(slider->value()), [weak] {
        if (auto self = weak.lock(); self && !self->closed_) {
            self->updatePlayButton();
        }
    });
}

void PelmarAudioPlayer::onPlayRewind() {
    auto engine = PelmarAudioEngine::sharedInstance();
    engine->skipDirection(SkipDirection::backward, seekTimeInterval_,
                          engine->currentTimeInSeconds());
}

void PelmarAudioPlayer::onPlayForward() {
    auto engine = PelmarAudioEngine::sharedInstance();
    engine->skipDirection(SkipDirection::forward, seekTimeInterval_,
                          engine->currentTimeInSeconds());
}

void PelmarAudioPlayer::onPlayBeforeItem() {
    if (paths_.empty()) {
        return;
    }
    loadAudio();
    const auto count = static_cast<int64_t>(paths_.size());
    currentItemIndex_ = (currentItemIndex_ + count - 1) % count;
    onPlayOrPause();
}

void PelmarAudioPlayer::onPlayNextItem() {
    if (paths_.empty()) {
        return;
    }
    loadAudio();
    currentItemIndex_ = (currentItemIndex_ + 1) % static_cast<int64_t>(paths_.size());
    onPlayOrPause();
}

void PelmarAudioPlayer::close(bool notify) {
    stopTimer();
    if (PelmarAudioEngine::sharedInstance()->isPlaying()) {
        onPlayOrPause();
    }
    closed_ = true;
    if (notify) {
        tellDelegate([](PelmarPlayerDelegate& d) { d.playerCancelledByUser(); });
    }
    // The pause's answer set up the position timer again; a closed screen keeps none.
    stopTimer();
    dismiss(true);
}

void PelmarAudioPlayer::onClose() {
    close(true);
}

void PelmarAudioPlayer::stopTimer() {
    if (sliderTimer_) {
        sliderTimer_->invalidate();
        sliderTimer_.reset();
    }
}

void PelmarAudioPlayer::episodeLoadedNotification(const foundation::Notification& notification) {
    auto percent = notification.objectAs<double>();
    // A share within a hair of 100 counts as loaded (a floating division may give 99.99999);
    // a load still short of its last bytes, 99.7 say, does not.
    if (percent && std::isfinite(*percent) && std::abs(*percent - 100.0) < kLoadedTolerance) {
        tellDelegate([](PelmarPlayerDelegate& d) { d.playerReadyToPlay(); });
    }
}

void PelmarAudioPlayer::playerDidReachEndNotification(const foundation::Notification&) {
    if (closed_) {
        return;
    }
    updatePlayButton();
    tellDelegate([](PelmarPlayerDelegate& d) { d.playerEnded(); });
    if (paths_.size() < 2) {
        close(false);
    } else {
        onPlayNextItem();
    }
}

}  // namespace pelmar
