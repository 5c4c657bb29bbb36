#include "pelmar/platform/av/PlayerItemLoader.h"

#include <mutex>
#include <vector>

#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/internal/ByteCache.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/libav/LibavHandles.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

namespace pelmar::av {

struct PlayerItemLoader::State {
    std::atomic<bool> cancelled{false};
    // Held while the handler runs, so that cancel() returns only once no call is under way.
    std::recursive_mutex calling;
    Handler handler;
};

namespace {

int stopRequested(void* opaque) {
    return static_cast<const std::atomic<bool>*>(opaque)->load() ? 1 : 0;
}

std::string errorText(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

}  // namespace

std::shared_ptr<PlayerItemLoader> PlayerItemLoader::start(
        std::string url, Handler handler, std::shared_ptr<internal::ByteCache> cache) {
    auto state = std::make_shared<State>();
    state->handler = std::move(handler);
    dispatch::Queue::global()->async([state, url = std::move(url), cache = std::move(cache)] {
        run(state, url, cache.get());
        if (cache && state->cancelled) {
            // Readers waiting for bytes that will not come give up.
            cache->fail(AVERROR_EXIT);
        }
    });
    return std::shared_ptr<PlayerItemLoader>(new PlayerItemLoader(state));
}

void PlayerItemLoader::cancel() {
    state_->cancelled = true;
    // A call under way on another thread ends first; one on this thread (the handler dropping its
    // loader) goes on, since the lock is recursive.
    std::lock_guard wait(state_->calling);
}

void PlayerItemLoader::run(const std::shared_ptr<State>& state,
                           const std::string& url,
                           internal::ByteCache* cache) {
    const auto tell = [&state](const Progress& progress) {
        std::lock_guard calling(state->calling);
        if (!state->cancelled && state->handler) {
            state->handler(progress);
        }
    };
    AVIOInterruptCB interrupt{stopRequested, &state->cancelled};
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "rw_timeout",
                    static_cast<int64_t>(URLAsset::kNetworkTimeoutSeconds * 1e6), 0);
    av_dict_set(&options, "reconnect", "0", 0);
    AVIOContext* raw = nullptr;
    int err = avio_open2(&raw, url.c_str(), AVIO_FLAG_READ, &interrupt, &options);
    av_dict_free(&options);
    Progress progress;
    if (err < 0) {
        if (cache != nullptr) {
            cache->fail(err);
        }
        progress.error = errorText(err);
        tell(progress);
        return;
    }
    const std::unique_ptr<AVIOContext, void (*)(AVIOContext*)> io(
            raw, [](AVIOContext* c) { avio_closep(&c); });
    progress.expected = avio_size(io.get());
    if (cache != nullptr) {
        cache->begin(progress.expected >= 0 ? progress.expected : -1);
    }
    std::vector<unsigned char> chunk(kChunkBytes);
    while (!state->cancelled) {
        const int read = avio_read(io.get(), chunk.data(), kChunkBytes);
        if (read == AVERROR_EOF || (read == 0 && avio_feof(io.get()))) {
            if (cache != nullptr) {
                cache->finish();
            }
            progress.finished = true;
            tell(progress);
            return;
        }
        if (read < 0) {
            if (cache != nullptr) {
                cache->fail(read);
            }
            progress.error = errorText(read);
            tell(progress);
            return;
        }
        if (cache != nullptr && !cache->append(chunk.data(), static_cast<size_t>(read))) {
            progress.error = "cannot keep the fetched bytes";
            tell(progress);
            return;
        }
        progress.received += read;
        if (progress.expected >= 0 && progress.received >= progress.expected) {
            progress.finished = true;
            if (cache != nullptr) {
                cache->finish();
            }
        }
        tell(progress);
        if (progress.finished) {
            return;
        }
    }
}

}  // namespace pelmar::av
