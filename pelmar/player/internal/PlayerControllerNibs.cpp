#include "pelmar/player/internal/PlayerControllerNibs.h"

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/platform/ui/TextView.h"
#include "pelmar/player/PelmarPlayerController.h"
#include "pelmar/player/PlayerStyleParams.h"

namespace pelmar::player::internal {

namespace {

constexpr double kWidth = 390;
constexpr double kHeight = 844;

struct Look {
    const char* nib;
    int64_t style;
    // The controls sit on a panel along the bottom (true) or straight in the screen's view.
    bool panel;
    // Elapsed and total in two labels, or elapsed (and total) in one.
    bool twoLabels;
    ui::Color panelColor;
};

constexpr std::array<Look, 7> kLooks{{
        {"PelmarPlayerController", 0, false, false, {0, 0, 0, 0}},
        {"ModernPlayerController", 1, false, false, {0, 0, 0, 0}},
        {"CubePlayerController", 2, true, false, {0, 0, 0, 0.5}},
        {"SpacePlayerController", 3, true, true, {0.05, 0.05, 0.2, 0.6}},
        {"MinimalistPlayerController", 4, false, false, {0, 0, 0, 0}},
        {"ElevatePlayerController", 5, true, true, {1, 1, 1, 0.8}},
        {"TheaterPlayerController", 6, true, true, {0.95, 0.9, 0.8, 0.8}},
}};

std::shared_ptr<ui::View> build(const Look& look, ui::ViewController& owner) {
    auto& screen = dynamic_cast<PelmarPlayerController&>(owner);
    const PlayerStyleParams icons(look.style);
    auto root = std::make_shared<ui::View>(ui::Rect{0, 0, kWidth, kHeight});
    auto background = std::make_shared<ui::View>(ui::Rect{0, 0, kWidth, kHeight});
    root->addSubview(background);

    // Controls in the panel's coordinates (or the screen's, at the panel's place).
    const ui::Rect panelFrame{10, kHeight - 140, kWidth - 20, 140};
    std::shared_ptr<ui::View> holder = root;
    ui::Point origin{panelFrame.x, panelFrame.y};
    if (look.panel) {
        auto panel = std::make_shared<ui::View>(panelFrame);
        panel->layer()->setBackgroundColor(look.panelColor);
        root->addSubview(panel);
        holder = panel;
        origin = {};
    }
    const auto place = [&](const std::shared_ptr<ui::View>& view, ui::Rect frame) {
        view->setFrame({origin.x + frame.x, origin.y + frame.y, frame.width, frame.height});
        holder->addSubview(view);
    };

    auto playPause = std::make_shared<ui::ImageView>();
    playPause->setImage(ui::Image::named(icons.pauseButtonIcon));
    place(playPause, {16, 60, 44, 44});
    auto bar = std::make_shared<PlayerProgressBar>();
    place(bar, {70, 62, 236, 40});
    auto mute = std::make_shared<ui::ImageView>();
    mute->setImage(ui::Image::named(icons.soundOnButtonIcon));
    place(mute, {316, 60, 44, 44});
    auto duration = std::make_shared<ui::TextView>();
    auto endDuration = std::make_shared<ui::TextView>();
    if (look.twoLabels) {
        place(duration, {70, 24, 80, 28});
        place(endDuration, {260, 24, 60, 28});
    } else {
        place(duration, {70, 24, 160, 28});
        // Connected, but the look leaves it empty and out of sight.
        endDuration->setHidden(true);
        place(endDuration, {240, 24, 80, 28});
    }
    // Light text over the dark looks, dark text over the light ones.
    const ui::Color text =
            icons.playButtonIcon == "play-white" ? ui::Color::white() : ui::Color::black();
    duration->setTextColor(text);
    endDuration->setTextColor(text);
    duration->setText(look.twoLabels || look.style == 2 ? "0:00" : "0:00/0:00");
    endDuration->setText("0:00");

    screen.playerBackground = background;
    screen.playPauseButton = playPause;
    screen.progressBarSlider = bar;
    screen.muteButton = mute;
    screen.durationTextView = duration;
    screen.endDurationTextView = endDuration;
    return root;
}

template <typename T>
ui::Nib::Outlet<ui::ViewController> outlet(std::string name,
                                           std::weak_ptr<T> PelmarPlayerController::*member) {
    return {std::move(name), [member](const ui::ViewController& owner) {
                const auto* screen = dynamic_cast<const PelmarPlayerController*>(&owner);
                return screen && !(screen->*member).expired();
            }};
}

}  // namespace

void registerPlayerControllerNibs() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const Look& look : kLooks) {
            ui::Nib::registerBuilder<ui::ViewController>(
                    look.nib, [&look](ui::ViewController& owner) { return build(look, owner); },
                    {outlet("playerBackground", &PelmarPlayerController::playerBackground),
                     outlet("muteButton", &PelmarPlayerController::muteButton),
                     outlet("durationTextView", &PelmarPlayerController::durationTextView),
                     outlet("playPauseButton", &PelmarPlayerController::playPauseButton),
                     outlet("progressBarSlider", &PelmarPlayerController::progressBarSlider),
                     outlet("endDurationTextView", &PelmarPlayerController::endDurationTextView)});
        }
    });
}

}  // namespace pelmar::player::internal
