#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// PlayerItemLoader: fetches the bytes of an HTTP item in the background, once, as a player buffers
// them, and tells how many of how many have arrived. Given a cache, it writes the bytes there for
// the item's other readers (the asset's probe and the player's decoder), which read them as they
// arrive; without one it keeps only the count.
// Ownership: start() makes it; the fetch holds its own state, so dropping the loader (or cancel())
//     only asks the fetch to stop, which it does at its next read; nothing waits for it.
// Threads: thread-safe. The fetch runs on the global queue; `progress` runs there, never after
//     cancel() has returned.
// Errors: a transfer that fails ends with finished = false and an error text; the count stays.
// Limits: reads kChunkBytes at a time; a server that sends nothing for the network time-out of
//     URLAsset fails the transfer.

namespace pelmar::av {

namespace internal {
class ByteCache;
}

class PlayerItemLoader {
public:
    static constexpr int kChunkBytes = 16 * 1024;

    struct Progress {
        int64_t received = 0;
        // The size the server announced; -1 when it gave none.
        int64_t expected = -1;
        // True once every byte has arrived.
        bool finished = false;
        // Set when the transfer failed.
        std::string error;
    };

    using Handler = std::function<void(const Progress&)>;

    // Starts fetching `url` (http or https) into `cache`, when given. The cache learns how the
    // fetch ends: finished, failed, or stopped (AVERROR_EXIT) by cancel().
    static std::shared_ptr<PlayerItemLoader> start(
            std::string url, Handler handler, std::shared_ptr<internal::ByteCache> cache = nullptr);

    PlayerItemLoader(const PlayerItemLoader&) = delete;
    PlayerItemLoader& operator=(const PlayerItemLoader&) = delete;

    ~PlayerItemLoader() { cancel(); }

    void cancel();

private:
    struct State;

    explicit PlayerItemLoader(std::shared_ptr<State> state) : state_(std::move(state)) {}

    static void run(const std::shared_ptr<State>& state,
                    const std::string& url,
                    internal::ByteCache* cache);

    std::shared_ptr<State> state_;
};

}  // namespace pelmar::av
