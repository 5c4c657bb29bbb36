#include "pelmar/platform/av/internal/PlaybackDecoder.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "pelmar/platform/av/internal/MovieDecoder.h"

namespace pelmar::av::internal {

namespace {

// Times closer than this are one time: the player's nanosecond clock against a stream's ticks.
constexpr double kSameTime = 1e-4;

// A time this far past the newest frame decoded is reached by a seek when a key frame lies
// between; nearer ones are decoded forward.
constexpr double kSeekAheadSeconds = 1.0;

std::shared_ptr<const AVFrame> share(libav::FramePtr frame) {
    return std::shared_ptr<const AVFrame>(frame.release(), [](const AVFrame* f) {
        AVFrame* owned = const_cast<AVFrame*>(f);
        av_frame_free(&owned);
    });
}

}  // namespace

PlaybackDecoder::PlaybackDecoder(std::string location,
                                 std::shared_ptr<ByteCache> cache,
                                 int maxWidth,
                                 int maxHeight)
    : location_(std::move(location)), cache_(std::move(cache)) {
    setMaximumSize(maxWidth, maxHeight);
    thread_ = std::thread([this] { run(); });
}

PlaybackDecoder::~PlaybackDecoder() {
    stop_ = true;
    {
        MutexLock lock(mutex_);
        changed_.notifyAll();
    }
    thread_.join();
}

bool PlaybackDecoder::failed() const {
    MutexLock lock(mutex_);
    return failed_;
}

void PlaybackDecoder::setMaximumSize(int maxWidth, int maxHeight) {
    MutexLock lock(mutex_);
    maxWidth_ = std::max(0, maxWidth);
    maxHeight_ = std::max(0, maxHeight);
}

bool PlaybackDecoder::settleLocked(double seconds) {
    while (queue_.size() > 1 && queue_[1]->start <= seconds + kSameTime) {
        queue_.pop_front();
        atFirstFrame_ = false;
    }
    if (queue_.empty()) {
        return false;
    }
    const Picture& front = *queue_.front();
    if (front.start > seconds + kSameTime && !atFirstFrame_) {
        return false;
    }
    // Shows until the next picture, to the end after the last one, or for one frame's time.
    return queue_.size() > 1 || ended_ || seconds + kSameTime < front.start + frameSeconds_;
}

std::shared_ptr<const PlaybackDecoder::Picture> PlaybackDecoder::pictureAt(double seconds,
                                                                           double waitSeconds) {
    if (!std::isfinite(seconds)) {
        seconds = 0;
    }
    MutexLock lock(mutex_);
    if (seconds != wanted_) {
        wanted_ = seconds;
        changed_.notifyAll();
    }
    bool ready = settleLocked(seconds);
    if (!ready && waitSeconds > 0) {
        const auto deadline = std::chrono::steady_clock::now()
                              + std::chrono::duration<double>(std::min(waitSeconds, 3600.0));
        while (!(ready = settleLocked(seconds)) && !failed_ && !(ended_ && queue_.empty())) {
            if (!changed_.waitUntil(mutex_, deadline)) {
                ready = settleLocked(seconds);
                break;
            }
        }
    }
    if (ready) {
        shown_ = queue_.front();
    } else if (!shown_ && !queue_.empty()) {
        shown_ = queue_.front();
    }
    // The decoder may have room for more now.
    changed_.notifyAll();
    return shown_;
}

std::shared_ptr<image::Bitmap> PlaybackDecoder::copy(const Picture& picture,
                                                     int maxWidth,
                                                     int maxHeight) {
    if (!picture.frame) {
        return nullptr;
    }
    libav::ScalerPtr scaler;
    return MovieDecoder::convert(*picture.frame, maxWidth, maxHeight, picture.quarterTurns,
                                 image::PixelFormat::RGBA8, scaler);
}

void PlaybackDecoder::run() {
    const std::function<bool()> stop = [this] { return stop_.load(); };
    MovieDecoder::Failure failure = MovieDecoder::Failure::Open;
    auto movie = MovieDecoder::open(location_, failure, &stop, cache_);
    if (!movie) {
        MutexLock lock(mutex_);
        failed_ = true;
        changed_.notifyAll();
        return;
    }
    const int turns = movie->quarterTurns();
    {
        MutexLock lock(mutex_);
        frameSeconds_ = movie->frameDurationSeconds();
        atFirstFrame_ = true;
    }
    // The newest frame decoded, not converted until the next shows whether it is ever seen.
    libav::FramePtr held;
    double heldStart = 0;
    bool finished = false;  // no frame after `held`
    while (!stop_) {
        std::optional<double> seekTo;
        int maxWidth = 0;
        int maxHeight = 0;
        {
            MutexLock lock(mutex_);
            while (!stop_) {
                const double wanted = wanted_;
                // What is kept starts at the queue's front, or at the held frame.
                const double kept =
                        !queue_.empty() ? queue_.front()->start : (held ? heldStart : -1);
                const bool behind = kept >= 0 && wanted + kSameTime < kept && !atFirstFrame_;
                bool farAhead = false;
                if (!behind && wanted > decodedUpTo_ + kSeekAheadSeconds) {
                    farAhead = movie->keyFrameAtOrBefore(wanted) > decodedUpTo_ + kSameTime;
                }
                if (behind || farAhead) {
                    seekTo = wanted;
                    queue_.clear();
                    ended_ = false;
                    atFirstFrame_ = false;
                    // Heading there: only a time further on makes another seek.
                    decodedUpTo_ = wanted;
                    break;
                }
                int ahead = 0;
                for (const auto& picture : queue_) {
                    ahead += picture->start > wanted + kSameTime ? 1 : 0;
                }
                if (!finished && ahead < kFramesAhead) {
                    break;
                }
                changed_.wait(mutex_);
            }
            maxWidth = maxWidth_;
            maxHeight = maxHeight_;
        }
        if (stop_) {
            break;
        }
        if (seekTo) {
            movie->seek(*seekTo);
            held.reset();
            finished = false;
            continue;
        }
        libav::FramePtr frame = movie->nextFrame();
        framesDecoded_ = movie->framesDecoded();
        double start = frame ? movie->frameSeconds(*frame) : 0;
        if (frame && !std::isfinite(start)) {
            start = held ? heldStart + movie->frameDurationSeconds() : 0;
        }
        std::shared_ptr<Picture> picture;
        const bool hadHeld = held != nullptr;
        if (held) {
            bool seen = true;
            if (frame) {
                MutexLock lock(mutex_);
                // The next frame already shows at the time asked for: this one never would.
                seen = start > wanted_ + kSameTime;
                seen = seen || (queue_.empty() && !shown_);
            }
            if (seen) {
                picture = std::make_shared<Picture>();
                picture->bitmap =
                        movie->picture(*held, maxWidth, maxHeight, true, image::PixelFormat::BGRA8);
                picture->quarterTurns = turns;
                picture->start = heldStart;
                picture->frame = share(std::move(held));
            }
            held.reset();
        }
        {
            MutexLock lock(mutex_);
            if (picture && picture->bitmap) {
                queue_.push_back(std::move(picture));
            } else if (hadHeld && queue_.empty()) {
                // The movie's first frame was passed over (or did not convert): the front of the
                // queue will be a later one.
                atFirstFrame_ = false;
            }
            if (frame) {
                decodedUpTo_ = start;
            } else {
                ended_ = true;
                finished = true;
            }
            changed_.notifyAll();
        }
        if (frame) {
            held = std::move(frame);
            heldStart = start;
        }
    }
}

}  // namespace pelmar::av::internal
