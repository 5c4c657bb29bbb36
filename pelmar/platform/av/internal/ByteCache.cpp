#include "pelmar/platform/av/internal/ByteCache.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace pelmar::av::internal {

namespace {

// How often a waiting read looks at its stop check.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

bool stopped(const std::function<bool()>* stop) {
    return stop != nullptr && *stop && (*stop)();
}

}  // namespace

std::shared_ptr<ByteCache> ByteCache::create(const std::string& folder) {
    std::string pattern = folder + "/pelmar-movie-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        return nullptr;
    }
    return std::shared_ptr<ByteCache>(new ByteCache(fd, path.data()));
}

ByteCache::~ByteCache() {
    ::close(fd_);
    std::remove(path_.c_str());
}

void ByteCache::begin(int64_t expectedBytes) {
    MutexLock lock(mutex_);
    begun_ = true;
    expected_ = expectedBytes;
    changed_.notifyAll();
}

bool ByteCache::append(const uint8_t* data, size_t size) {
    int64_t at = 0;
    {
        MutexLock lock(mutex_);
        at = received_;
    }
    // Only the fetch writes, so the bytes past `received_` are its own to write unlocked.
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::pwrite(fd_, data + written, size - written,
                                   static_cast<off_t>(at + static_cast<int64_t>(written)));
        if (n <= 0) {
            fail(AVERROR(EIO));
            return false;
        }
        written += static_cast<size_t>(n);
    }
    MutexLock lock(mutex_);
    received_ += static_cast<int64_t>(size);
    changed_.notifyAll();
    return true;
}

void ByteCache::finish() {
    MutexLock lock(mutex_);
    begun_ = true;
    finished_ = true;
    changed_.notifyAll();
}

void ByteCache::fail(int averror) {
    MutexLock lock(mutex_);
    begun_ = true;
    failure_ = averror < 0 ? averror : AVERROR(EIO);
    changed_.notifyAll();
}

int64_t ByteCache::received() const {
    MutexLock lock(mutex_);
    return received_;
}

int ByteCache::failure() const {
    MutexLock lock(mutex_);
    return failure_;
}

int ByteCache::read(int64_t offset, uint8_t* out, int size, const std::function<bool()>* stop) {
    if (size <= 0) {
        return 0;
    }
    int64_t available = 0;
    {
        MutexLock lock(mutex_);
        while (received_ <= offset && !finished_ && failure_ == 0) {
            if (stopped(stop)) {
                return AVERROR_EXIT;
            }
            changed_.waitUntil(mutex_, std::chrono::steady_clock::now() + kStopPoll);
        }
        if (received_ <= offset) {
            return failure_ != 0 ? failure_ : AVERROR_EOF;
        }
        available = received_ - offset;
    }
    const auto wanted = static_cast<size_t>(std::min<int64_t>(available, size));
    const ssize_t n = ::pread(fd_, out, wanted, static_cast<off_t>(offset));
    return n > 0 ? static_cast<int>(n) : AVERROR(EIO);
}

int64_t ByteCache::size(const std::function<bool()>* stop) {
    MutexLock lock(mutex_);
    while (!begun_) {
        if (stopped(stop)) {
            return -1;
        }
        changed_.waitUntil(mutex_, std::chrono::steady_clock::now() + kStopPoll);
    }
    if (expected_ >= 0) {
        return expected_;
    }
    return finished_ ? received_ : -1;
}

ByteCacheInput::ByteCacheInput(std::shared_ptr<ByteCache> cache, const std::function<bool()>* stop)
    : cache_(std::move(cache)), stop_(stop) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (buffer == nullptr) {
        return;
    }
    io_ = avio_alloc_context(buffer, kBufferBytes, 0, this, readPacket, nullptr, seekTo);
    if (io_ == nullptr) {
        av_free(buffer);
    }
}

ByteCacheInput::~ByteCacheInput() {
    if (io_ != nullptr) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

int ByteCacheInput::readPacket(void* opaque, uint8_t* buffer, int size) {
    auto* self = static_cast<ByteCacheInput*>(opaque);
    const int n = self->cache_->read(self->position_, buffer, size, self->stop_);
    if (n > 0) {
        self->position_ += n;
    }
    return n;
}

int64_t ByteCacheInput::seekTo(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<ByteCacheInput*>(opaque);
    const int64_t size = self->cache_->size(self->stop_);
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return size;
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += self->position_;
            break;
        case SEEK_END:
            if (size < 0) {
                return AVERROR(ENOSYS);
            }
            offset += size;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (offset < 0) {
        return AVERROR(EINVAL);
    }
    self->position_ = offset;
    return offset;
}

}  // namespace pelmar::av::internal
