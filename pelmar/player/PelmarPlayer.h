#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/QueuePlayer.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/foundation/NotificationCenter.h"

// PelmarPlayer: the SDK's queue player for the service's videos. Its items come from service
// video tokens (the video's URL with the caller's parameters, the session and a fresh seed, and
// with subtitles from the service's transcription when there is one), from web URLs or from
// local paths. A player made with a facade tells the facade's player delegate ready, playing,
// seek, paused and ended, each only when it differs from the event told before, and at the end
// of its queue dismisses the screen on top.
// Ownership: made by the create() functions and held by shared_ptr; holds the facade strongly
//     (the facade never holds a player) and its observations, which refer to it weakly.
// Threads: thread-safe. Events are told on the thread that changes the player's state or posts
//     the end of its last item; the dismissal at the end always runs on the main queue. Token
//     roads call back on the service client's delivery thread; the URL roads and the queue
//     factory call back on the caller's thread before returning.
// Errors: an item that cannot be made (a web URL that does not parse, a token without a usable
//     URL) is skipped by the queue factory and reaches the single-item factories as a null item
//     or a null player. A local path is not checked: its item fails in the player. Every item a
//     player is made with that fails to load (a missing file, one that is not media) writes one
//     line "PelmarPlayer: cannot play the item: <error>" to the SDK's log (foundation::Log, which
//     reaches the host's LogSink), on the main thread; the item's status and error() tell the
//     same. The delegate has no failure event, so it hears nothing of it.

namespace pelmar {
class Pelmar;
}  // namespace pelmar

namespace pelmar::player::internal {
class PlayerEvents;
}  // namespace pelmar::player::internal

namespace pelmar::ui {
class View;
class ViewController;
}  // namespace pelmar::ui

namespace pelmar::av {
class PlayerViewController;
}  // namespace pelmar::av

namespace pelmar {

class PelmarPlayer : public av::QueuePlayer {
    struct Key {};

public:
    using PlayerCallback = std::function<void(std::shared_ptr<PelmarPlayer>)>;
    using ItemCallback = std::function<void(std::shared_ptr<av::PlayerItem>)>;
    using QueuePlayerCallback = std::function<void(std::shared_ptr<av::QueuePlayer>)>;
    using Items = std::vector<std::shared_ptr<av::PlayerItem>>;

    // Without a facade: no observers, no events.
    static std::shared_ptr<PelmarPlayer> create();

    static std::shared_ptr<PelmarPlayer> create(const std::string& url);

    // One item over the token's video URL with a fresh seed, when that text parses as a web URL
    // (no item otherwise); tells only the end of the queue.
    static std::shared_ptr<PelmarPlayer> create(std::shared_ptr<Pelmar> application,
                                                const std::string& videoToken);

    // Tells every event; the end is the end of the last item queued now.
    static std::shared_ptr<PelmarPlayer> create(std::shared_ptr<Pelmar> application,
                                                std::shared_ptr<av::PlayerItem> playerItem);

    static std::shared_ptr<PelmarPlayer> create(std::shared_ptr<Pelmar> application,
                                                Items playerItems);

    // Writes the WebVTT file of a transcription into Documents and returns its path.
    static std::optional<std::filesystem::path> renderVTTWithWords(
            const std::optional<Json>& words, const std::optional<Json>& times);

    // One item for a URL or path (`videoUrl` set and not empty; on the caller's thread) or for
    // a token (the token road). A web URL that does not parse gives a null item.
    static void createPlayerItemWithAdditionalParams(std::shared_ptr<Pelmar> application,
                                                     const std::string& videoToken,
                                                     const std::optional<std::string>& videoUrl,
                                                     const std::optional<Json>& params,
                                                     ItemCallback callback);

    // A player over that item; without an item the callback gets a null player.
    static void createPlayerWithAdditionalParams(std::shared_ptr<Pelmar> application,
                                                 const std::string& videoToken,
                                                 const std::optional<std::string>& videoUrl,
                                                 const std::optional<Json>& params,
                                                 PlayerCallback callback);

    // Synchronous: the tokens' plain video URLs, then the URLs and paths, in order; entries that
    // give no item are skipped. `params` is accepted and not applied.
    static void createQueuePlayerWithAdditionalParams(std::shared_ptr<Pelmar> application,
                                                      const std::vector<std::string>& videoTokens,
                                                      const std::vector<std::string>& videoUrls,
                                                      const std::optional<Json>& params,
                                                      PlayerCallback callback);

    // A plain queue player (no events) over the tokens' items, built one request at a time.
    static void createPlayerForMultipleVideos(std::shared_ptr<Pelmar> application,
                                              const std::vector<std::string>& videoTokens,
                                              const std::optional<Json>& params,
                                              QueuePlayerCallback callback);

    static void createPlayerWithClientAuthToken(std::shared_ptr<Pelmar> application,
                                                const std::string& videoToken,
                                                const std::string& authToken,
                                                PlayerCallback callback);

    static void createPlayerWithServerAuthToken(std::shared_ptr<Pelmar> application,
                                                const std::string& videoToken,
                                                const std::string& authToken,
                                                PlayerCallback callback);

    // Logs the request and keeps the container and controller; no ad is requested or shown.
    void playWithAds(const std::string& adTagURL,
                     const std::shared_ptr<ui::View>& playerContainer,
                     const std::shared_ptr<ui::ViewController>& rootViewController,
                     const std::shared_ptr<av::PlayerViewController>& playerViewController);

    // The end of the registered item: tells `playerEnded` once and dismisses the top screen.
    void contentDidFinishPlaying(const foundation::Notification& notification);

    // The text of the last event told ("" before the first).
    std::string beforeEvent() const;

    PelmarPlayer(Key, std::shared_ptr<Pelmar> application, Items items);

    ~PelmarPlayer() override;

private:
    // Every player is made here, so that each watches its items for failures.
    static std::shared_ptr<PelmarPlayer> make(std::shared_ptr<Pelmar> application, Items items);

    // Writes a log line for each item it was made with that fails to load.
    void observeFailures();

    static void logFailure(const av::PlayerItem& item);

    // Registers the end observer for the last queued item (none for an empty queue).
    void observeEnd();

    // Registers the status and time-control observations.
    void observeState();

    std::shared_ptr<Pelmar> m_pelmar;
    std::optional<std::string> videoToken_;
    std::unique_ptr<player::internal::PlayerEvents> events_;
    std::weak_ptr<ui::View> playerContainer_;
    std::weak_ptr<av::PlayerViewController> playerViewController_;
    foundation::ObserverToken endObserver_;
    std::vector<std::shared_ptr<void>> stateObservers_;
    std::vector<std::shared_ptr<void>> failureObservers_;
};

}  // namespace pelmar
