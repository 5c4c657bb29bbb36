#include "pelmar/platform/av/internal/ByteCache.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <vector>

namespace pelmar::av::internal {

namespace {

// How often a waiting read looks at its stop check.
constexpr auto kStopPoll = std::chrono::milliseconds(ByteCache::kStopPollMs);

bool stopped(const std::function<bool()>* stop) {
    return stop != nullptr && *stop && (*stop)();
}

}  // namespace

std::shared_ptr<ByteCache> ByteCache::create(const std::string& folder, int64_t maxBytes) {
    std::string pattern = folder + "/pelmar-movie-XXXXXX";
    std::vector<char> path(pattern.begin(), pattern.end());
    path.push_back('\0');
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    // Only the descriptor keeps the bytes: the file goes with it, however the process ends.
    ::unlink(path.data());
    return std::shared_ptr<ByteCache>(
            new ByteCache(fd, maxBytes > 0 ? maxBytes : kDefaultMaxBytes));
}

ByteCache::~ByteCache() {
    ::close(fd_);
}

bool ByteCache::begin(int64_t totalBytes) {
    MutexLock lock(mutex_);
    if (failure_ != 0) {
        return false;
    }
    begun_ = true;
    if (totalBytes >= 0) {
        total_ = totalBytes;
        if (totalBytes > maxBytes_) {
            failLocked(AVERROR(EFBIG), "the movie (" + std::to_string(totalBytes)
                                               + " bytes) is larger than the cache limit of "
                                               + std::to_string(maxBytes_) + " bytes");
            return false;
        }
    }
    changed_.notifyAll();
    return true;
}

bool ByteCache::store(int64_t offset, const uint8_t* data, size_t size) {
    {
        MutexLock lock(mutex_);
        if (failure_ != 0) {
            return false;
        }
        if (offset + static_cast<int64_t>(size) > maxBytes_) {
            failLocked(AVERROR(EFBIG), "the movie is larger than the cache limit of "
                                               + std::to_string(maxBytes_) + " bytes");
            return false;
        }
    }
    // Only the fetch writes, and readers read only stretches marked stored, so the write needs
    // no lock.
    size_t written = 0;
    while (written < size) {
        const ssize_t n = ::pwrite(fd_, data + written, size - written,
                                   static_cast<off_t>(offset + static_cast<int64_t>(written)));
        if (n <= 0) {
            fail(AVERROR(EIO), "cannot keep the fetched bytes");
            return false;
        }
        written += static_cast<size_t>(n);
    }
    MutexLock lock(mutex_);
    if (failure_ != 0) {
        return false;
    }
    begun_ = true;
    markStoredLocked(offset, offset + static_cast<int64_t>(size));
    changed_.notifyAll();
    return true;
}

void ByteCache::markStoredLocked(int64_t from, int64_t to) {
    if (to <= from) {
        return;
    }
    // Merge with every stretch that touches [from, to).
    auto it = stretches_.upper_bound(from);
    if (it != stretches_.begin() && std::prev(it)->second >= from) {
        --it;
    }
    while (it != stretches_.end() && it->first <= to) {
        from = std::min(from, it->first);
        to = std::max(to, it->second);
        stored_ -= it->second - it->first;
        it = stretches_.erase(it);
    }
    stretches_.emplace(from, to);
    stored_ += to - from;
    if (wanted_ && *wanted_ >= from && *wanted_ < to) {
        wanted_.reset();
    }
}

void ByteCache::finish() {
    MutexLock lock(mutex_);
    if (failure_ != 0) {
        return;
    }
    begun_ = true;
    finished_ = true;
    if (total_ < 0) {
        total_ = stretches_.empty() ? 0 : stretches_.rbegin()->second;
    }
    changed_.notifyAll();
}

void ByteCache::fail(int averror, std::string why) {
    MutexLock lock(mutex_);
    failLocked(averror, std::move(why));
}

void ByteCache::failLocked(int averror, std::string why) {
    if (finished_ || failure_ != 0) {
        // Every byte has arrived (or the first failure stands): nothing to undo.
        return;
    }
    begun_ = true;
    failure_ = averror < 0 ? averror : AVERROR(EIO);
    failureText_ = std::move(why);
    if (failure_ == AVERROR(EFBIG)) {
        // Over the bound: what was written goes at once.
        stretches_.clear();
        stored_ = 0;
        (void)::ftruncate(fd_, 0);
    }
    changed_.notifyAll();
}

int64_t ByteCache::contiguous() const {
    MutexLock lock(mutex_);
    const auto first = stretches_.find(0);
    return first == stretches_.end() ? 0 : first->second;
}

int64_t ByteCache::stored() const {
    MutexLock lock(mutex_);
    return stored_;
}

std::map<int64_t, int64_t> ByteCache::stretches() const {
    MutexLock lock(mutex_);
    return stretches_;
}

int64_t ByteCache::diskBytes() const {
    struct stat info {};

    if (::fstat(fd_, &info) != 0) {
        return 0;
    }
    return static_cast<int64_t>(info.st_blocks) * 512;
}

bool ByteCache::finished() const {
    MutexLock lock(mutex_);
    return finished_;
}

int ByteCache::failure() const {
    MutexLock lock(mutex_);
    return failure_;
}

std::string ByteCache::failureText() const {
    MutexLock lock(mutex_);
    return failureText_;
}

std::optional<int64_t> ByteCache::wanted() const {
    MutexLock lock(mutex_);
    return wanted_;
}

int64_t ByteCache::lastRead() const {
    MutexLock lock(mutex_);
    return lastRead_;
}

int64_t ByteCache::knownSize() const {
    MutexLock lock(mutex_);
    return sizeLocked();
}

std::optional<int64_t> ByteCache::waitForWant(int ms) {
    MutexLock lock(mutex_);
    if (!wanted_) {
        changed_.waitUntil(mutex_,
                           std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
    }
    return wanted_;
}

int64_t ByteCache::firstMissingAt(int64_t from) const {
    MutexLock lock(mutex_);
    auto it = stretches_.upper_bound(from);
    if (it != stretches_.begin() && std::prev(it)->second > from) {
        from = std::prev(it)->second;
    }
    return total_ >= 0 && from >= total_ ? total_ : from;
}

int64_t ByteCache::missingEndAt(int64_t from) const {
    MutexLock lock(mutex_);
    const auto next = stretches_.upper_bound(from);
    return next != stretches_.end() ? next->first : total_;
}

int64_t ByteCache::sizeLocked() const {
    if (total_ >= 0) {
        return total_;
    }
    return finished_ ? stored_ : -1;
}

int ByteCache::read(int64_t offset, uint8_t* out, int size, const std::function<bool()>* stop) {
    if (size <= 0) {
        return 0;
    }
    int64_t available = 0;
    {
        MutexLock lock(mutex_);
        while (true) {
            const int64_t total = sizeLocked();
            if (total >= 0 && offset >= total) {
                return giveUpLocked(offset, AVERROR_EOF);
            }
            auto it = stretches_.upper_bound(offset);
            if (it != stretches_.begin() && std::prev(it)->second > offset) {
                available = std::prev(it)->second - offset;
                break;
            }
            if (finished_) {
                return giveUpLocked(offset, AVERROR_EOF);
            }
            if (failure_ != 0) {
                return giveUpLocked(offset, failure_);
            }
            if (stopped(stop)) {
                return giveUpLocked(offset, AVERROR_EXIT);
            }
            // Told to the fetch, which goes there next.
            if (wanted_ != offset) {
                wanted_ = offset;
                changed_.notifyAll();
            }
            changed_.waitUntil(mutex_, std::chrono::steady_clock::now() + kStopPoll);
        }
        lastRead_ = offset + std::min<int64_t>(available, size);
    }
    const auto wanted = static_cast<size_t>(std::min<int64_t>(available, size));
    const ssize_t n = ::pread(fd_, out, wanted, static_cast<off_t>(offset));
    return n > 0 ? static_cast<int>(n) : AVERROR(EIO);
}

int ByteCache::giveUpLocked(int64_t offset, int code) {
    // The fetch need not go where nobody waits any more.
    if (wanted_ == offset) {
        wanted_.reset();
    }
    return code;
}

int64_t ByteCache::size(const std::function<bool()>* stop) {
    MutexLock lock(mutex_);
    while (!begun_ && failure_ == 0) {
        if (stopped(stop)) {
            return -1;
        }
        changed_.waitUntil(mutex_, std::chrono::steady_clock::now() + kStopPoll);
    }
    return sizeLocked();
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
