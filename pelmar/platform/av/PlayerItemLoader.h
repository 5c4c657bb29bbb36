#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

// PlayerItemLoader: fetches the bytes of an HTTP item in the background into its byte cache, which
// the item's readers (the asset's probe and the player's decoder) read as the bytes arrive, and
// tells how many of how many have arrived. It fetches what the readers ask for, by HTTP range,
// and, once fetchWhole() is called (the item became current), every byte still missing; a server
// without ranges is read once from the start (see internal::RangeFetch).
// Ownership: start() makes it. The fetch runs on a thread of its own, which the loader owns:
//     dropping the loader stops the fetch (within RangeFetch::kPollMs) and joins the thread, so
//     closing what plays a movie ends its transfer at once. The fetch is no queue's work: a host
//     that waits for its queues to be idle does not wait for a movie to arrive.
// Threads: thread-safe. `progress` runs on the fetch's thread, never after cancel() has returned.
// Errors: a transfer that fails ends with finished = false and an error text; the count stays.
// Limits: at most the cache's maxBytes (ByteCache::kDefaultMaxBytes for a cache of its own); a
//     movie larger than that fails with an error that says so, and what was stored is freed. A
//     server that sends nothing for the network time-out of URLAsset fails the transfer.

namespace pelmar::av {

namespace internal {
class ByteCache;
}

class PlayerItemLoader {
public:
    struct Progress {
        // Every byte stored, wherever it lies, and those from the start without a gap.
        int64_t received = 0;
        int64_t contiguous = 0;
        // The stretches held: start -> end (exclusive).
        std::map<int64_t, int64_t> stretches;
        // The size the server announced; -1 when it gave none.
        int64_t expected = -1;
        // True once every byte has arrived.
        bool finished = false;
        // Set when the transfer failed.
        std::string error;
    };

    using Handler = std::function<void(const Progress&)>;

    // Starts fetching `url` (http or https) into `cache` (one of its own, in the temporary folder,
    // when none is given): every byte when `whole`, otherwise what readers ask for until
    // fetchWhole(). The cache learns how the fetch ends: finished, failed, or stopped
    // (AVERROR_EXIT) by cancel().
    static std::shared_ptr<PlayerItemLoader> start(
            std::string url,
            Handler handler,
            std::shared_ptr<internal::ByteCache> cache = nullptr,
            bool whole = true);

    PlayerItemLoader(const PlayerItemLoader&) = delete;
    PlayerItemLoader& operator=(const PlayerItemLoader&) = delete;

    ~PlayerItemLoader();

    void cancel();

    // From now on every missing byte is fetched, not only those readers ask for.
    void fetchWhole();

private:
    struct State;

    explicit PlayerItemLoader(std::shared_ptr<State> state) : state_(std::move(state)) {}

    static void run(const std::shared_ptr<State>& state,
                    const std::string& url,
                    internal::ByteCache& cache);

    std::shared_ptr<State> state_;
    std::thread fetch_;
};

}  // namespace pelmar::av
