#include "pelmar/player/PelmarPlayer.h"

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarVideos.h"
#include "pelmar/platform/av/PlayerViewController.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/net/URLOrigin.h"
#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/player/internal/PlayerEvents.h"
#include "pelmar/player/internal/PlayerText.h"
#include "pelmar/player/internal/TokenRoad.h"

namespace pelmar {

namespace {

bool isWebURL(const std::string& text) {
    return text.find("http://") != std::string::npos || text.find("https://") != std::string::npos;
}

// The item of a web URL (null when it does not parse) or of a local path.
std::shared_ptr<av::PlayerItem> itemForURLOrPath(const std::string& text) {
    if (isWebURL(text)) {
        if (!net::urlOrigin(text)) {
            return nullptr;
        }
        return av::PlayerItem::create(av::URLAsset::create(text));
    }
    return av::PlayerItem::create(av::URLAsset::create(foundation::fileURLFromPath(text)));
}

std::shared_ptr<av::PlayerItem> itemForSource(const player::internal::TokenSource& source) {
    if (source.composition) {
        return av::PlayerItem::create(source.composition);
    }
    if (source.url.empty() || !net::urlOrigin(source.url)) {
        return nullptr;
    }
    return av::PlayerItem::create(av::URLAsset::create(source.url));
}

}  // namespace

PelmarPlayer::PelmarPlayer(Key, std::shared_ptr<Pelmar> application, Items items)
    : av::QueuePlayer(std::move(items)),
      m_pelmar(std::move(application)),
      events_(std::make_unique<player::internal::PlayerEvents>(
              [weak = std::weak_ptr<Pelmar>(m_pelmar)] {
                  auto facade = weak.lock();
                  return facade ? facade->playerDelegate() : nullptr;
              })) {}

PelmarPlayer::~PelmarPlayer() = default;

std::string PelmarPlayer::beforeEvent() const {
    return events_->beforeEvent();
}

std::shared_ptr<PelmarPlayer> PelmarPlayer::make(std::shared_ptr<Pelmar> application, Items items) {
    auto player = std::make_shared<PelmarPlayer>(Key{}, std::move(application), std::move(items));
    player->observeFailures();
    return player;
}

std::shared_ptr<PelmarPlayer> PelmarPlayer::create() {
    return make(nullptr, Items{});
}

std::shared_ptr<PelmarPlayer> PelmarPlayer::create(const std::string& url) {
    Items items;
    if (auto item = itemForURLOrPath(url)) {
        items.push_back(std::move(item));
    }
    return make(nullptr, std::move(items));
}

std::shared_ptr<PelmarPlayer> PelmarPlayer::create(std::shared_ptr<Pelmar> application,
                                                   const std::string& videoToken) {
    auto videos = application ? application->videos() : nullptr;
    const std::string url = videos ? videos->getVideoUrl(videoToken) : std::string();
    Items items;
    // The whole text, seed included, must parse as a web URL before it becomes an item.
    const std::string seeded = url + "?seed=" + std::to_string(player::internal::drawSeed());
    if (!url.empty() && net::urlOrigin(seeded)) {
        items.push_back(av::PlayerItem::create(av::URLAsset::create(seeded)));
    }
    auto player = make(std::move(application), std::move(items));
    player->videoToken_ = videoToken;
    player->observeEnd();
    return player;
}

std::shared_ptr<PelmarPlayer> PelmarPlayer::create(std::shared_ptr<Pelmar> application,
                                                   std::shared_ptr<av::PlayerItem> playerItem) {
    Items items;
    if (playerItem) {
        items.push_back(std::move(playerItem));
    }
    return create(std::move(application), std::move(items));
}

std::shared_ptr<PelmarPlayer> PelmarPlayer::create(std::shared_ptr<Pelmar> application,
                                                   Items playerItems) {
    auto player = make(std::move(application), std::move(playerItems));
    if (player->m_pelmar) {
        player->observeEnd();
        player->observeState();
    }
    return player;
}

void PelmarPlayer::observeEnd() {
    const auto queued = items();
    if (queued.empty()) {
        // Nothing of this player can end; listening to every item's end would react to the
        // ends of other players.
        return;
    }
    const std::weak_ptr<PelmarPlayer> weak =
            std::static_pointer_cast<PelmarPlayer>(shared_from_this());
    endObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(av::kPlayerItemDidPlayToEndTimeNotification), queued.back(),
            [weak](const foundation::Notification& notification) {
                if (auto self = weak.lock()) {
                    self->contentDidFinishPlaying(notification);
                }
            });
}

void PelmarPlayer::observeFailures() {
    for (const auto& item : items()) {
        const std::weak_ptr<av::PlayerItem> weakItem = item;
        // Told the status at once too, for an item that failed before this player took it.
        failureObservers_.push_back(
                std::make_shared<foundation::Observable<av::PlayerItem::Status>::Token>(
                        item->status.observe(
                                [weakItem](const auto& change) {
                                    auto failed = weakItem.lock();
                                    if (failed && change.newValue
                                        && *change.newValue == av::PlayerItem::Status::Failed) {
                                        logFailure(*failed);
                                    }
                                },
                                {.initial = true})));
    }
}

void PelmarPlayer::logFailure(const av::PlayerItem& item) {
    const auto error = item.error();
    foundation::Log::write("PelmarPlayer: cannot play the item: "
                           + (error ? error->description() : std::string("unknown error")));
}

void PelmarPlayer::observeState() {
    const std::weak_ptr<PelmarPlayer> weak =
            std::static_pointer_cast<PelmarPlayer>(shared_from_this());
    // Each notice reads the player's property as it is now, before and after each change.
    const foundation::Observable<av::Player::Status>::Options prior{.prior = true};
    stateObservers_.push_back(
            std::make_shared<foundation::Observable<av::Player::Status>::Token>(status.observe(
                    [weak](const auto&) {
                        auto self = weak.lock();
                        if (self && self->status.get() == av::Player::Status::ReadyToPlay) {
                            self->events_->readyToPlay();
                        }
                    },
                    prior)));
    stateObservers_.push_back(
            std::make_shared<foundation::Observable<av::Player::TimeControlStatus>::Token>(
                    timeControlStatus.observe(
                            [weak](const auto&) {
                                if (auto self = weak.lock()) {
                                    self->events_->timeControlStatus(
                                            static_cast<int>(self->timeControlStatus.get()),
                                            self->currentTime().seconds());
                                }
                            },
                            {.prior = true})));
}

void PelmarPlayer::contentDidFinishPlaying(const foundation::Notification&) {
    events_->ended();
    const std::weak_ptr<Pelmar> weak = m_pelmar;
    // Screens are dismissed on the main queue, whatever thread posted the end.
    dispatch::Queue::main()->async([weak] {
        auto facade = weak.lock();
        if (auto top = facade ? facade->getParentViewController() : nullptr) {
            top->dismiss(true);
        }
    });
}

void PelmarPlayer::playWithAds(
        const std::string& adTagURL,
        const std::shared_ptr<ui::View>& playerContainer,
        const std::shared_ptr<ui::ViewController>& /*rootViewController*/,
        const std::shared_ptr<av::PlayerViewController>& playerViewController) {
    // The container and controller as their descriptions; the root controller is not printed.
    const std::string controller =
            playerViewController
                    ? "PlayerViewController " + playerViewController->view()->describe()
                    : std::string("nil");
    foundation::Console::print("PELMAR_IMA: requestAds(adTagURLString: \"" + adTagURL
                               + "\", playerContainer: "
                               + (playerContainer ? playerContainer->describe() : "nil")
                               + ", playerViewController: " + controller);
    playerContainer_ = playerContainer;
    playerViewController_ = playerViewController;
}

std::optional<std::filesystem::path> PelmarPlayer::renderVTTWithWords(
        const std::optional<Json>& words, const std::optional<Json>& times) {
    return player::internal::writeSubtitleFile(words, times);
}

void PelmarPlayer::createPlayerItemWithAdditionalParams(std::shared_ptr<Pelmar> application,
                                                        const std::string& videoToken,
                                                        const std::optional<std::string>& videoUrl,
                                                        const std::optional<Json>& params,
                                                        ItemCallback callback) {
    if (videoUrl && !videoUrl->empty()) {
        callback(itemForURLOrPath(*videoUrl));
        return;
    }
    player::internal::buildTokenSource(
            application, videoToken, params,
            [callback](player::internal::TokenSource source) { callback(itemForSource(source)); });
}

void PelmarPlayer::createPlayerWithAdditionalParams(std::shared_ptr<Pelmar> application,
                                                    const std::string& videoToken,
                                                    const std::optional<std::string>& videoUrl,
                                                    const std::optional<Json>& params,
                                                    PlayerCallback callback) {
    createPlayerItemWithAdditionalParams(
            application, videoToken, videoUrl, params,
            [application, callback](std::shared_ptr<av::PlayerItem> item) {
                // Without an item the caller still hears back, with no player.
                callback(item ? create(application, std::move(item)) : nullptr);
            });
}

void PelmarPlayer::createQueuePlayerWithAdditionalParams(
        std::shared_ptr<Pelmar> application,
        const std::vector<std::string>& videoTokens,
        const std::vector<std::string>& videoUrls,
        const std::optional<Json>& /*params*/,
        PlayerCallback callback) {
    Items items;
    auto videos = application ? application->videos() : nullptr;
    for (const auto& token : videoTokens) {
        const std::string url = videos ? videos->getVideoUrl(token) : std::string();
        if (!url.empty() && net::urlOrigin(url)) {
            items.push_back(av::PlayerItem::create(av::URLAsset::create(url)));
        }
    }
    for (const auto& url : videoUrls) {
        if (auto item = itemForURLOrPath(url)) {
            items.push_back(std::move(item));
        }
    }
    callback(create(std::move(application), std::move(items)));
}

void PelmarPlayer::createPlayerForMultipleVideos(std::shared_ptr<Pelmar> application,
                                                 const std::vector<std::string>& videoTokens,
                                                 const std::optional<Json>& params,
                                                 QueuePlayerCallback callback) {
    struct Run {
        std::shared_ptr<Pelmar> application;
        std::vector<std::string> tokens;
        std::optional<Json> params;
        QueuePlayerCallback callback;
        Items items;
        size_t index = 0;

        static void next(const std::shared_ptr<Run>& run) {
            if (run->index >= run->tokens.size()) {
                run->callback(std::make_shared<av::QueuePlayer>(run->items));
                return;
            }
            const std::string token = run->tokens[run->index];
            createPlayerItemWithAdditionalParams(run->application, token, std::nullopt, run->params,
                                                 [run](std::shared_ptr<av::PlayerItem> item) {
                                                     if (item) {
                                                         run->items.push_back(std::move(item));
                                                     }
                                                     ++run->index;
                                                     next(run);
                                                 });
        }
    };

    auto run = std::make_shared<Run>(
            Run{std::move(application), videoTokens, params, std::move(callback), {}, 0});
    Run::next(run);
}

void PelmarPlayer::createPlayerWithClientAuthToken(std::shared_ptr<Pelmar> application,
                                                   const std::string& videoToken,
                                                   const std::string& authToken,
                                                   PlayerCallback callback) {
    createPlayerWithAdditionalParams(std::move(application), videoToken, std::nullopt,
                                     Json{{"client_auth", authToken}}, std::move(callback));
}

void PelmarPlayer::createPlayerWithServerAuthToken(std::shared_ptr<Pelmar> application,
                                                   const std::string& videoToken,
                                                   const std::string& authToken,
                                                   PlayerCallback callback) {
    createPlayerWithAdditionalParams(std::move(application), videoToken, std::nullopt,
                                     Json{{"server_auth", authToken}}, std::move(callback));
}

}  // namespace pelmar
