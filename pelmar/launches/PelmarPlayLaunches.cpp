// The facade's video playback launches: the styled player screen over the SDK's queue player, and
// the system player screen for local files.

#include <memory>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/VideoPlayerConfig.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/PlayerViewController.h"
#include "pelmar/platform/av/QueuePlayer.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/ui/NavigationController.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/player/PelmarPlayer.h"
#include "pelmar/player/PelmarPlayerController.h"

namespace pelmar {

namespace {

// Whether the theme arguments ask to show the embedded player view: not when "hidePlayerControls"
// is exactly the text "true"; none when the key is absent.
std::optional<bool> showsPlaybackControlsOf(const Json& theme) {
    if (!theme.is_object() || !theme.contains("hidePlayerControls")) {
        return std::nullopt;
    }
    const Json& value = theme["hidePlayerControls"];
    return !(value.is_string() && value.get<std::string>() == "true");
}

void launchStyledPlayer(Pelmar& pelmar,
                        const std::vector<std::string>& tokens,
                        const std::vector<std::string>& urls) {
    auto self = pelmar.shared_from_this();
    PelmarPlayer::createQueuePlayerWithAdditionalParams(
            self, tokens, urls, pelmar.extraArgsForPlayer(),
            [self](std::shared_ptr<PelmarPlayer> player) {
                dispatch::Queue::main()->async([self, player] {
                    if (!player) {
                        return;
                    }
                    auto screen = std::make_shared<PelmarPlayerController>(*self, player);
                    if (const auto shows = showsPlaybackControlsOf(self->themeArgsForPlayer())) {
                        screen->setShowsPlaybackControls(*shows);
                    }
                    screen->setPlayerStyle(self->getVideoPlayerConfig()->playerStyle);
                    // An ads URL is kept but not applied: no ad can be shown, so the video
                    // plays as it would without one.
                    auto parent = self->getParentViewController();
                    if (!parent) {
                        return;
                    }
                    screen->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
                    parent->present(screen, false);
                    dispatch::Queue::main()->async([player] { player->play(); });
                });
            });
}

}  // namespace

void Pelmar::playVideo(std::vector<std::string> tokens) {
    launchStyledPlayer(*this, tokens, {});
}

void Pelmar::playFromUri(std::vector<std::string> urls) {
    launchStyledPlayer(*this, {}, urls);
}

void Pelmar::playFromPaths(std::vector<std::string> paths) {
    if (paths.empty()) {
        return;
    }
    const auto [destination, error] = copyToDocumentsMovie(paths.front());
    if (error) {
        return;
    }
    auto item = av::PlayerItem::create(av::URLAsset::create(destination.string()));
    const std::weak_ptr<Pelmar> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, item] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        auto player = std::make_shared<av::QueuePlayer>(std::vector{item});
        auto screen = std::make_shared<av::PlayerViewController>();
        screen->setPlayer(player);
        screen->showsPlaybackControls = true;
        auto top = self->getParentViewController();
        if (!top) {
            return;
        }
        top->dismiss(true, [weak, screen] {
            auto facade = weak.lock();
            auto presenter = facade ? facade->getParentViewController() : nullptr;
            if (!presenter) {
                return;
            }
            if (auto navigation = presenter->navigationController()) {
                navigation->push(screen, true);
            } else {
                presenter->present(screen, true);
            }
        });
        dispatch::Queue::main()->async([player] { player->play(); });
    });
}

}  // namespace pelmar
