#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pelmar/platform/sync/Mutex.h"

struct AVIOContext;

namespace pelmar::av::internal {

// ByteCache: the bytes of one remote movie as its single fetch brings them, kept in a file of the
// temporary folder, so that every reader of the movie (the asset's probe, the player's decoder)
// reads those same bytes while the file grows instead of fetching the movie again.
// Ownership: made with create() and shared by the fetch and the readers; the file is removed
//     with the last holder.
// Threads: thread-safe. Reads wait (polling their stop check) until their bytes have arrived or
//     the fetch has ended.
// Errors: a fetch that failed makes reads past what arrived fail with its AVERROR code.
class ByteCache {
public:
    // A cache file in `folder`; null when it cannot be made.
    static std::shared_ptr<ByteCache> create(const std::string& folder);

    ~ByteCache();

    ByteCache(const ByteCache&) = delete;
    ByteCache& operator=(const ByteCache&) = delete;

    // The fetch: the size the server announced (-1: none), then the bytes in order, then the end.
    void begin(int64_t expectedBytes);
    bool append(const uint8_t* data, size_t size);
    void finish();
    void fail(int averror);

    int64_t received() const;

    // The AVERROR code of a failed fetch; 0 otherwise.
    int failure() const;

    // Reads up to `size` bytes at `offset`: the count, 0 at the end of a finished fetch, or a
    // negative AVERROR when the fetch failed first or `stop` turned true.
    int read(int64_t offset, uint8_t* out, int size, const std::function<bool()>* stop);

    // The whole size, once the fetch has begun: announced, or known at the end; -1 otherwise.
    int64_t size(const std::function<bool()>* stop);

private:
    ByteCache(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    const int fd_;
    const std::string path_;
    mutable Mutex mutex_;
    CondVar changed_;
    bool begun_ PELMAR_GUARDED_BY(mutex_) = false;
    bool finished_ PELMAR_GUARDED_BY(mutex_) = false;
    int failure_ PELMAR_GUARDED_BY(mutex_) = 0;
    int64_t expected_ PELMAR_GUARDED_BY(mutex_) = -1;
    int64_t received_ PELMAR_GUARDED_BY(mutex_) = 0;
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
