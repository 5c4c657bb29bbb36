#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/sync/Mutex.h"

struct AVIOContext;

namespace pelmar::av::internal {

// ByteCache: the byte source of one remote movie. It holds the stretches of the movie fetched so
// far, wherever they lie, so that every reader of the movie (the asset's probe, the player's
// decoder) reads the same bytes and none is fetched twice while the cache lives; the fetch
// (PlayerItemLoader) asks it which bytes the readers wait for and which are still missing.
// Where: a file made in the given folder and unlinked at once, so only the descriptor holds it
//     (nothing is left behind when the process exits or crashes).
// Ownership: made with create() and shared by the fetch and the readers; the space goes with
//     the last holder.
// Threads: thread-safe. A read of bytes not fetched yet records them as wanted and waits
//     (polling its stop check every kStopPollMs) until they arrive, the fetch ends or fails.
// Errors: a failed fetch makes reads of missing bytes fail with its AVERROR code (and a text);
//     a failure after finish() is ignored. Storing past the bound fails the fetch with
//     AVERROR(EFBIG) and frees what was stored.
// Limits: at most maxBytes (kDefaultMaxBytes unless given) are stored, and a movie announced
//     larger than that is refused.
class ByteCache {
public:
    static constexpr int64_t kDefaultMaxBytes = int64_t{2} * 1024 * 1024 * 1024;
    static constexpr int kStopPollMs = 20;

    // An unlinked cache file in `folder`; null when it cannot be made.
    static std::shared_ptr<ByteCache> create(const std::string& folder,
                                             int64_t maxBytes = kDefaultMaxBytes);

    ~ByteCache();

    ByteCache(const ByteCache&) = delete;
    ByteCache& operator=(const ByteCache&) = delete;

    int64_t maxBytes() const { return maxBytes_; }

    // The fetch: the whole size once it is known (-1: none), bytes at their offsets, then the
    // end (every byte there is has been stored) or a failure.
    // begin() fails the cache (and answers false) when `totalBytes` is over the bound.
    bool begin(int64_t totalBytes);
    // False when the cache has failed (over the bound, or the disk refused the bytes).
    bool store(int64_t offset, const uint8_t* data, size_t size);

    // Kept for the fetch that brings the bytes in order from the start.
    bool append(const uint8_t* data, size_t size) { return store(contiguous(), data, size); }

    void finish();
    void fail(int averror, std::string why = {});

    // The bytes stored from offset 0 without a gap.
    int64_t contiguous() const;
    // All the bytes stored, wherever they lie.
    int64_t stored() const;
    // The stretches stored: start -> end (exclusive), in order, none touching another.
    std::map<int64_t, int64_t> stretches() const;
    // Space the file takes on disk, in bytes (0 once a failure freed it).
    int64_t diskBytes() const;

    bool finished() const;
    // The AVERROR code of a failed fetch; 0 otherwise; and its text (empty when none was given).
    int failure() const;
    std::string failureText() const;

    // For the fetch: the offset a reader waits for, if one does.
    std::optional<int64_t> wanted() const;
    // Where the latest read ended (-1 before any read): the fetch reads ahead from there.
    int64_t lastRead() const;
    // Waits up to `ms` milliseconds for a reader to want bytes; the offset wanted, if any.
    std::optional<int64_t> waitForWant(int ms);
    // The first offset at or after `from` that is not stored (the size, or -1 when unknown, when
    // everything from there on is stored).
    int64_t firstMissingAt(int64_t from) const;
    // The end of the missing stretch that starts at `from`: the next stored offset, or the size
    // (-1 when unknown).
    int64_t missingEndAt(int64_t from) const;

    // Reads up to `size` bytes at `offset`: the count, 0 at the end of the movie, or a negative
    // AVERROR when the fetch failed first or `stop` turned true.
    int read(int64_t offset, uint8_t* out, int size, const std::function<bool()>* stop);

    // The whole size, once the fetch has begun: announced, or known at the end; -1 otherwise.
    int64_t size(const std::function<bool()>* stop);
    // The same without waiting: -1 while unknown.
    int64_t knownSize() const;

private:
    ByteCache(int fd, int64_t maxBytes) : fd_(fd), maxBytes_(maxBytes) {}

    void markStoredLocked(int64_t from, int64_t to) PELMAR_REQUIRES(mutex_);
    void failLocked(int averror, std::string why) PELMAR_REQUIRES(mutex_);
    int64_t sizeLocked() const PELMAR_REQUIRES(mutex_);
    int giveUpLocked(int64_t offset, int code) PELMAR_REQUIRES(mutex_);

    const int fd_;
    const int64_t maxBytes_;
    mutable Mutex mutex_;
    CondVar changed_;
    bool begun_ PELMAR_GUARDED_BY(mutex_) = false;
    bool finished_ PELMAR_GUARDED_BY(mutex_) = false;
    int failure_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::string failureText_ PELMAR_GUARDED_BY(mutex_);
    int64_t total_ PELMAR_GUARDED_BY(mutex_) = -1;
    std::map<int64_t, int64_t> stretches_ PELMAR_GUARDED_BY(mutex_);
    int64_t stored_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::optional<int64_t> wanted_ PELMAR_GUARDED_BY(mutex_);
    int64_t lastRead_ PELMAR_GUARDED_BY(mutex_) = -1;
};

// ByteCacheInput: a libavformat reader over a ByteCache, with its own position. Give context()
// to a demuxer as its custom I/O and keep this object until the demuxer is closed.
// Ownership: holds the cache; `stop`, when given, must outlive it.
// Threads: thread-compatible (one demuxer reads it).
// Errors: as ByteCache::read.
class ByteCacheInput {
public:
    static constexpr int kBufferBytes = 64 * 1024;

    ByteCacheInput(std::shared_ptr<ByteCache> cache, const std::function<bool()>* stop);
    ~ByteCacheInput();

    ByteCacheInput(const ByteCacheInput&) = delete;
    ByteCacheInput& operator=(const ByteCacheInput&) = delete;

    // Null when it could not be allocated.
    AVIOContext* context() const { return io_; }

    const std::shared_ptr<ByteCache>& cache() const { return cache_; }

private:
    static int readPacket(void* opaque, uint8_t* buffer, int size);
    static int64_t seekTo(void* opaque, int64_t offset, int whence);

    std::shared_ptr<ByteCache> cache_;
    const std::function<bool()>* stop_;
    int64_t position_ = 0;
    AVIOContext* io_ = nullptr;
};

}  // namespace pelmar::av::internal
