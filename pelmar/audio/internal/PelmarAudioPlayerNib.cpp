#include "pelmar/audio/internal/PelmarAudioPlayerNib.h"

#include <initializer_list>
#include <memory>
#include <mutex>

#include "pelmar/audio/PelmarAudioPlayer.h"
#include "pelmar/audio/internal/AudioScreenParts.h"
#include "pelmar/platform/ui/ActivityIndicatorView.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/platform/ui/Slider.h"

namespace pelmar::audio::internal {

namespace {

// Top to bottom: the close button, the status, the position as hours, minutes and seconds, the
// slider between the position and the duration, and the row of controls: previous, rewind,
// play/pause (where the loading mark also shows), forward, next.
std::shared_ptr<ui::View> build(ui::ViewController& owner) {
    auto& player = dynamic_cast<PelmarAudioPlayer&>(owner);
    std::weak_ptr<PelmarAudioPlayer> weak =
            std::static_pointer_cast<PelmarAudioPlayer>(player.shared_from_this());
    auto root = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
    root->layer()->setBackgroundColor(ui::Color::white());

    auto close = std::make_shared<ui::Button>(ui::Rect{16, 56, 44, 44});
    close->setTitle("Close");
    close->setTitleColor(ui::Color{0.3, 0.3, 0.3, 1}, ui::ControlState::Normal);
    close->setTitleFont(ui::Font::systemFont(12, ui::FontWeight::Medium));
    close->layer()->setBorderColor(ui::Color{0.3, 0.3, 0.3, 1});
    close->layer()->setBorderWidth(2);
    close->layer()->setCornerRadius(22);
    close->addTarget(ui::ControlEvent::TouchUpInside,
                     weakAction(weak, &PelmarAudioPlayer::onClose));

    // The status and the position stand centred over the centred play button.
    auto status = std::make_shared<ui::Label>(ui::Rect{145, 220, 100, 30});
    status->setTextAlignment(ui::TextAlignment::Center);
    auto duration = std::make_shared<ui::Label>(ui::Rect{145, 300, 100, 40});
    duration->setTextAlignment(ui::TextAlignment::Center);
    auto current = std::make_shared<ui::Label>(ui::Rect{20, 520, 60, 30});
    auto slider = std::make_shared<ui::Slider>(ui::Rect{80, 520, 230, 30});
    slider->addTarget(ui::ControlEvent::ValueChanged,
                      weakAction(weak, &PelmarAudioPlayer::onChangeCurrentTime));
    auto total = std::make_shared<ui::Label>(ui::Rect{320, 520, 60, 30});

    // The row of controls is centred on the screen, as the texts are: 12 pt between areas.
    const ui::Color grey{0.88, 0.88, 0.88, 1};
    auto before = makeControlArea({19, 680, 56, 56}, grey,
                                  weakAction(weak, &PelmarAudioPlayer::onPlayBeforeItem));
    auto rewind = makeControlArea({87, 680, 56, 56}, grey,
                                  weakAction(weak, &PelmarAudioPlayer::onPlayRewind));
    auto play = makeControlArea({155, 668, 80, 80}, ui::Color{0.2, 0.5, 0.9, 1},
                                weakAction(weak, &PelmarAudioPlayer::onPlayOrPause));
    auto forward = makeControlArea({247, 680, 56, 56}, grey,
                                   weakAction(weak, &PelmarAudioPlayer::onPlayForward));
    auto next = makeControlArea({315, 680, 56, 56}, grey,
                                weakAction(weak, &PelmarAudioPlayer::onPlayNextItem));
    before.image->setImage(PelmarAudioPlayer::getImageFromResource("audio-previous-black"));
    rewind.image->setImage(PelmarAudioPlayer::getImageFromResource("audio-rewind-black"));
    forward.image->setImage(PelmarAudioPlayer::getImageFromResource("audio-forward-black"));
    next.image->setImage(PelmarAudioPlayer::getImageFromResource("audio-next-black"));
    auto loading = std::make_shared<ui::ActivityIndicatorView>(ui::Rect{175, 688, 40, 40});

    for (const auto& view : std::initializer_list<std::shared_ptr<ui::View>>{
                 close, status, duration, current, slider, total, before.container,
                 rewind.container, play.container, forward.container, next.container, loading}) {
        root->addSubview(view);
    }

    player.statusLabel = status;
    player.currentTimeLabel = current;
    player.totalTimeLabel = total;
    player.durationLabel = duration;
    player.playImageView = play.image;
    player.timeSlider = slider;
    player.beforeButtonView = before.container;
    player.rewindButtonView = rewind.container;
    player.playButtonView = play.container;
    player.forwardButtonView = forward.container;
    player.nextButtonView = next.container;
    player.loadingIndicator = loading;
    return root;
}

template <typename V>
ui::Nib::Outlet<ui::ViewController> outlet(const char* name,
                                           std::weak_ptr<V> PelmarAudioPlayer::*member) {
    return {name, [member](const ui::ViewController& owner) {
                return !(dynamic_cast<const PelmarAudioPlayer&>(owner).*member).expired();
            }};
}

}  // namespace

void registerPelmarAudioPlayerNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        ui::Nib::registerBuilder<ui::ViewController>(
                "PelmarAudioPlayer", build,
                {outlet("statusLabel", &PelmarAudioPlayer::statusLabel),
                 outlet("currentTimeLabel", &PelmarAudioPlayer::currentTimeLabel),
                 outlet("totalTimeLabel", &PelmarAudioPlayer::totalTimeLabel),
                 outlet("durationLabel", &PelmarAudioPlayer::durationLabel),
                 outlet("playImageView", &PelmarAudioPlayer::playImageView),
                 outlet("timeSlider", &PelmarAudioPlayer::timeSlider),
                 outlet("beforeButtonView", &PelmarAudioPlayer::beforeButtonView),
                 outlet("rewindButtonView", &PelmarAudioPlayer::rewindButtonView),
                 outlet("playButtonView", &PelmarAudioPlayer::playButtonView),
                 outlet("forwardButtonView", &PelmarAudioPlayer::forwardButtonView),
                 outlet("nextButtonView", &PelmarAudioPlayer::nextButtonView),
                 outlet("loadingIndicator", &PelmarAudioPlayer::loadingIndicator)});
    });
}

}  // namespace pelmar::audio::internal
