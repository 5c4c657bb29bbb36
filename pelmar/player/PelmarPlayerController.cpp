#include "pelmar/player/PelmarPlayerController.h"

#include <cmath>
#include <limits>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/PlayerViewController.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/TapGestureRecognizer.h"
#include "pelmar/player/internal/PlayerControllerNibs.h"

namespace pelmar {

namespace {

// Whole seconds of a float, 0 for what has none (NaN, infinities, out of range, negative).
int64_t wholeSeconds(float seconds) {
    if (!std::isfinite(seconds) || seconds <= 0
        || seconds >= static_cast<float>(std::numeric_limits<int64_t>::max())) {
        return 0;
    }
    return static_cast<int64_t>(seconds);
}

float finiteOrZero(double seconds) {
    return std::isfinite(seconds) ? static_cast<float>(seconds) : 0.0f;
}

template <typename Method, typename Arg>
auto weakAction(const std::weak_ptr<PelmarPlayerController>& weak, Method method) {
    return [weak, method](Arg& arg) {
        if (auto self = weak.lock()) {
            ((*self).*method)(arg);
        }
    };
}

}  // namespace

PelmarPlayerController::PelmarPlayerController(const Pelmar& application,
                                               std::shared_ptr<av::Player> player)
    : ui::ViewController(
            nibNameForStyle(application.getVideoPlayerConfig()->playerStyle->controllerStyle)),
      player_(std::move(player)),
      style_(PlayerStyle::defaultStyle()),
      styleParams_(std::make_shared<PlayerStyleParams>()) {
    player::internal::registerPlayerControllerNibs();
}

PelmarPlayerController::~PelmarPlayerController() {
    removeTimeObserver();
}

std::shared_ptr<const ui::Image> PelmarPlayerController::getImageFromResource(
        const std::string& name) {
    return ui::Image::named(name);
}

std::string PelmarPlayerController::nibNameForStyle(std::optional<int64_t> controllerStyle) {
    const auto look =
            controllerStyle ? PlayerStyle::controllerStyleFromRaw(*controllerStyle) : std::nullopt;
    switch (look.value_or(Look::DEFAULT)) {
        case Look::MODERN:
            return "ModernPlayerController";
        case Look::CUBE:
            return "CubePlayerController";
        case Look::SPACE:
            return "SpacePlayerController";
        case Look::MINIMALIST:
            return "MinimalistPlayerController";
        case Look::ELEVATE:
            return "ElevatePlayerController";
        case Look::THEATRE:
            return "TheaterPlayerController";
        case Look::DEFAULT:
            break;
    }
    return "PelmarPlayerController";
}

std::string PelmarPlayerController::timeLabelString(float seconds) {
    const int64_t s = wholeSeconds(seconds);
    const int64_t minutes = s / 60;
    const int64_t rest = s - 60 * minutes;
    return std::to_string(minutes) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

ui::Color PelmarPlayerController::UIColorFromRGB(int64_t rgbValue) {
    const auto bits = static_cast<uint64_t>(rgbValue);
    return {static_cast<double>((bits >> 16) & 0xFF) / 255.0,
            static_cast<double>((bits >> 8) & 0xFF) / 255.0,
            static_cast<double>(bits & 0xFF) / 255.0, 1.0};
}

void PelmarPlayerController::setPlayerStyle(std::shared_ptr<PlayerStyle> style) {
    style_ = style ? std::move(style) : PlayerStyle::defaultStyle();
    styleParams_ = std::make_shared<PlayerStyleParams>(style_->controllerStyle);
}

void PelmarPlayerController::setShowsPlaybackControls(bool showsPlaybackControls) {
    showsPlaybackControls_ = showsPlaybackControls;
}

PelmarPlayerController::Look PelmarPlayerController::look() const {
    const auto raw = style_->controllerStyle;
    return raw ? PlayerStyle::controllerStyleFromRaw(*raw).value_or(Look::DEFAULT) : Look::DEFAULT;
}

void PelmarPlayerController::viewDidLoad() {
    ui::ViewController::viewDidLoad();
    if (!player_) {
        return;
    }
    const ui::Rect frame = view()->frame();
    playerViewController_ = std::make_shared<av::PlayerViewController>();
    playerViewController_->setPlayer(player_);
    playerViewController_->view()->setFrame({0, 0, frame.width, frame.height});
    playerViewController_->showsPlaybackControls = false;
    playerViewController_->entersFullScreenWhenPlaybackBegins = true;
    playerViewController_->exitsFullScreenWhenPlaybackEnds = true;
    playerViewController_->allowsPictureInPicturePlayback = true;
    playerViewController_->restoresFocusAfterTransition = true;
    playerViewController_->updatesNowPlayingInfoCenter = true;
    if (showsPlaybackControls_) {
        addChild(playerViewController_);
        view()->insertSubview(playerViewController_->view(), 0);
    }
    playerViewController_->didMove(this);

    const auto weak = std::weak_ptr<PelmarPlayerController>(
            std::static_pointer_cast<PelmarPlayerController>(shared_from_this()));
    if (auto playPause = playPauseButton.lock()) {
        if (style_->tintColor) {
            playPause->setTintColor(UIColorFromRGB(*style_->tintColor));
        }
        playPause->addGestureRecognizer(std::make_shared<ui::TapGestureRecognizer>(
                weakAction<decltype(&PelmarPlayerController::playPauseTapped),
                           ui::TapGestureRecognizer>(weak,
                                                     &PelmarPlayerController::playPauseTapped)));
        playPause->setUserInteractionEnabled(true);
    }
    setProgressBarView();
    if (look() != Look::MINIMALIST) {
        if (auto mute = muteButton.lock()) {
            if (style_->tintColor) {
                mute->setTintColor(UIColorFromRGB(*style_->tintColor));
            }
            mute->addGestureRecognizer(std::make_shared<ui::TapGestureRecognizer>(
                    weakAction<decltype(&PelmarPlayerController::imageTapped),
                               ui::TapGestureRecognizer>(weak,
                                                         &PelmarPlayerController::imageTapped)));
            mute->setUserInteractionEnabled(true);
        }
    }
    setCloseButtonView();
}

void PelmarPlayerController::setProgressBarView() {
    auto bar = progressBarSlider.lock();
    if (!bar) {
        return;
    }
    if (style_->playedColor) {
        bar->minimumTintColor = UIColorFromRGB(*style_->playedColor);
    }
    if (style_->unplayedColor) {
        bar->maximumTintColor = UIColorFromRGB(*style_->unplayedColor);
    }
    const auto weak = std::weak_ptr<PelmarPlayerController>(
            std::static_pointer_cast<PelmarPlayerController>(shared_from_this()));
    const std::weak_ptr<PlayerProgressBar> weakBar = bar;
    bar->addTarget(ui::ControlEvent::ValueChanged, [weak, weakBar] {
        auto self = weak.lock();
        auto slider = weakBar.lock();
        if (self && slider) {
            self->sliderValueDidChange(*slider);
        }
    });
    progressBarHighlightedObserver_ = bar->tracking.observe(
            [weak, weakBar](const foundation::Observable<bool>::Change& change) {
                auto self = weak.lock();
                auto slider = weakBar.lock();
                if (self && slider && change.newValue) {
                    slider->setValue(self->currentSeconds());
                }
            });
    timeObserver_ = player_->addPeriodicTimeObserver(media::Time::makeWithSeconds(1.0, 1000000000),
                                                     dispatch::Queue::main(), [weak](media::Time) {
                                                         if (auto self = weak.lock()) {
                                                             self->setDurationView();
                                                         }
                                                     });
    bar->addGestureRecognizer(std::make_shared<ui::TapGestureRecognizer>(
            weakAction<decltype(&PelmarPlayerController::sliderTapped), ui::TapGestureRecognizer>(
                    weak, &PelmarPlayerController::sliderTapped)));
}

void PelmarPlayerController::setDurationView() {
    if (!player_) {
        return;
    }
    auto bar = progressBarSlider.lock();
    float total = 0;
    if (auto item = player_->currentItem();
        item && item->status.get() == av::PlayerItem::Status::ReadyToPlay) {
        total = finiteOrZero(item->duration().seconds());
        if (bar) {
            bar->setMaximumValue(total);
        }
    }
    const float elapsed = currentSeconds();
    auto duration = durationTextView.lock();
    auto endDuration = endDurationTextView.lock();
    switch (look()) {
        case Look::SPACE:
        case Look::ELEVATE:
        case Look::THEATRE:
            if (duration) {
                duration->setText(timeLabelString(elapsed));
            }
            if (endDuration) {
                endDuration->setText(timeLabelString(total));
            }
            break;
        case Look::CUBE:
            if (duration) {
                duration->setText(timeLabelString(elapsed));
            }
            break;
        default:
            if (duration) {
                duration->setText(timeLabelString(elapsed) + "/" + timeLabelString(total));
            }
            break;
    }
    if (style_->textColor && duration) {
        duration->setTextColor(UIColorFromRGB(*style_->textColor));
    }
    if (bar) {
        bar->setValue(elapsed);
    }
}

float PelmarPlayerController::currentSeconds() const {
    return player_ ? finiteOrZero(player_->currentTime().seconds()) : 0.0f;
}

void PelmarPlayerController::seekToWholeSeconds(float seconds) {
    if (!player_) {
        return;
    }
    const auto weak = std::weak_ptr<const PelmarPlayerController>(
            std::static_pointer_cast<const PelmarPlayerController>(shared_from_this()));
    player_->seek(media::Time::make(wholeSeconds(seconds), 1), media::Time::zero(),
                  media::Time::zero(), [weak](bool) {});
}

void PelmarPlayerController::playPauseTapped(ui::GestureRecognizer& recognizer) {
    if (recognizer.state() != ui::GestureRecognizer::State::Ended) {
        return;
    }
    updateStatus();
    if (look() != Look::MINIMALIST) {
        updateUI();
    }
}

void PelmarPlayerController::updateStatus() {
    if (!player_) {
        return;
    }
    // The player's own state decides: the screen may have loaded before playback started.
    const bool playing = player_->rate() != 0;
    if (playing) {
        player_->pause();
    } else {
        player_->play();
    }
}

bool PelmarPlayerController::isPlaying() const {
    // Read from the player each time: the facade starts playback after the screen has loaded,
    // and an item's end or failure stops it without the screen taking part.
    return player_ && player_->rate() != 0 && !player_->error();
}

void PelmarPlayerController::updateUI() {
    if (auto playPause = playPauseButton.lock()) {
        playPause->setImage(getImageFromResource(isPlaying() ? styleParams_->pauseButtonIcon
                                                             : styleParams_->playButtonIcon));
    }
}

void PelmarPlayerController::imageTapped(ui::GestureRecognizer& sender) {
    if (sender.state() != ui::GestureRecognizer::State::Ended || !player_) {
        return;
    }
    auto mute = muteButton.lock();
    const float volume = player_->volume();
    if (volume == 0) {
        // Unmuting a player that was silent when muted would leave it silent: full volume then.
        player_->setVolume(currentVolume_ > 0 ? currentVolume_ : 1.0f);
        if (mute) {
            mute->setImage(getImageFromResource(styleParams_->soundOnButtonIcon));
        }
    } else {
        currentVolume_ = volume;
        player_->setVolume(0);
        if (mute) {
            mute->setImage(getImageFromResource(styleParams_->soundOffButtonIcon));
        }
    }
}

void PelmarPlayerController::sliderTapped(ui::GestureRecognizer& recognizer) {
    auto bar = progressBarSlider.lock();
    if (!bar || bar->bounds().width <= 0) {
        return;
    }
    // In the bar's own coordinates, wherever the bar sits in the screen.
    const double x = recognizer.location(bar.get()).x;
    const double fraction = std::clamp(x / bar->bounds().width, 0.0, 1.0);
    seekToWholeSeconds(static_cast<float>(fraction * bar->maximumValue()));
}

void PelmarPlayerController::sliderValueDidChange(ui::Slider& slider) {
    seekToWholeSeconds(slider.value());
    slider.setValue(currentSeconds());
}

void PelmarPlayerController::setCloseButtonView() {
    auto button = std::make_shared<ui::Button>(ui::Rect{16, 50, 25, 25});
    const auto weak = std::weak_ptr<PelmarPlayerController>(
            std::static_pointer_cast<PelmarPlayerController>(shared_from_this()));
    for (const auto event : {ui::ControlEvent::TouchUpInside, ui::ControlEvent::ValueChanged,
                             ui::ControlEvent::TouchDown, ui::ControlEvent::TouchUpOutside,
                             ui::ControlEvent::TouchCancel}) {
        button->addTarget(event, [weak] {
            if (auto self = weak.lock()) {
                self->dismissButtonTapped();
            }
        });
    }
    button->setImage(getImageFromResource("close"), ui::ControlState::Normal);
    if (style_->tintColor) {
        button->setTintColor(UIColorFromRGB(*style_->tintColor));
    }
    view()->addSubview(button);
    closeButton = button;
}

void PelmarPlayerController::removeTimeObserver() {
    if (timeObserver_ && player_) {
        player_->removeTimeObserver(timeObserver_);
    }
    timeObserver_.reset();
}

void PelmarPlayerController::dismissButtonTapped() {
    // Leaving stops the sound and the updates; the screen goes whether or not the player view
    // was put on screen.
    if (player_) {
        player_->pause();
    }
    removeTimeObserver();
    if (presentingViewController()) {
        dismiss(false);
    }
}

}  // namespace pelmar
