#include "pelmar/platform/av/PlayerItemLoader.h"

#include <mutex>

#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/internal/ByteCache.h"
#include "pelmar/platform/av/internal/RangeFetch.h"
#include "pelmar/platform/foundation/Sandbox.h"

namespace pelmar::av {

struct PlayerItemLoader::State {
    std::atomic<bool> cancelled{false};
    std::atomic<bool> whole{false};
    // Held while the handler runs, so that cancel() returns only once no call is under way.
    std::recursive_mutex calling;
    Handler handler;
};

std::shared_ptr<PlayerItemLoader> PlayerItemLoader::start(
        std::string url, Handler handler, std::shared_ptr<internal::ByteCache> cache, bool whole) {
    auto state = std::make_shared<State>();
    state->handler = std::move(handler);
    state->whole = whole;
    if (!cache) {
        cache = internal::ByteCache::create(foundation::Sandbox::temporaryDirectory().string());
    }
    std::shared_ptr<PlayerItemLoader> loader(new PlayerItemLoader(state));
    loader->fetch_ = std::thread([state, url = std::move(url), cache = std::move(cache)] {
        if (!cache) {
            std::lock_guard calling(state->calling);
            if (!state->cancelled && state->handler) {
                Progress failed;
                failed.error = "cannot make a cache file";
                state->handler(failed);
            }
            return;
        }
        run(state, url, *cache);
    });
    return loader;
}

PlayerItemLoader::~PlayerItemLoader() {
    cancel();
    if (fetch_.joinable()) {
        if (fetch_.get_id() == std::this_thread::get_id()) {
            // Dropped by its own handler: the fetch ends by itself right after.
            fetch_.detach();
        } else {
            fetch_.join();
        }
    }
}

void PlayerItemLoader::cancel() {
    state_->cancelled = true;
    // A call under way on another thread ends first; one on this thread (the handler dropping its
    // loader) goes on, since the lock is recursive.
    std::lock_guard wait(state_->calling);
}

void PlayerItemLoader::fetchWhole() {
    state_->whole = true;
}

void PlayerItemLoader::run(const std::shared_ptr<State>& state,
                           const std::string& url,
                           internal::ByteCache& cache) {
    const auto tell = [&state, &cache] {
        Progress progress;
        progress.stretches = cache.stretches();
        for (const auto& [from, to] : progress.stretches) {
            progress.received += to - from;
        }
        const auto first = progress.stretches.find(0);
        progress.contiguous = first == progress.stretches.end() ? 0 : first->second;
        progress.expected = cache.knownSize();
        progress.finished = cache.finished();
        if (cache.failure() != 0) {
            progress.error =
                    cache.failureText().empty() ? "the transfer failed" : cache.failureText();
        }
        std::lock_guard calling(state->calling);
        if (!state->cancelled && state->handler) {
            state->handler(progress);
        }
    };
    internal::RangeFetch::Controls controls;
    controls.stopped = [&state] { return state->cancelled.load(); };
    controls.wholeWanted = [&state] { return state->whole.load(); };
    controls.progressed = tell;
    internal::RangeFetch::run(url, cache, URLAsset::kNetworkTimeoutSeconds, controls);
}

}  // namespace pelmar::av
