#include "pelmar/platform/av/internal/PlaybackDecoder.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

#include "pelmar/platform/av/internal/MovieDecoder.h"

namespace pelmar::av::internal {

namespace {

// Times closer than this are one time: the player's nanosecond clock against a stream's ticks.
constexpr double kSameTime = 1e-4;

}  // namespace

PlaybackDecoder::PlaybackDecoder(std::string location,
                                 std::shared_ptr<ByteCache> cache,
                                 int maxWidth,
                                 int maxHeight)
    : location_(std::move(location)), cache_(std::move(cache)) {
    queue_.setMaximumSize(maxWidth, maxHeight);
    thread_ = std::thread([this] { run(); });
}

PlaybackDecoder::~PlaybackDecoder() {
    stop_ = true;
    queue_.stop();
    thread_.join();
}

std::shared_ptr<image::Bitmap> PlaybackDecoder::copy(const Picture& picture,
                                                     int maxWidth,
                                                     int maxHeight) const {
    const std::function<bool()> stop = [this] { return stop_.load(); };
    MovieDecoder::Failure failure = MovieDecoder::Failure::Open;
    auto movie = MovieDecoder::open(location_, failure, &stop, cache_);
    if (!movie) {
        return nullptr;
    }
    const double origin = movie->originSeconds();
    movie->seek(picture.start + origin);
    // The frame that starts at the picture's time, or the last one before it.
    libav::FramePtr found;
    while (auto frame = movie->nextFrame()) {
        const double start = movie->frameSeconds(*frame) - origin;
        if (found && std::isfinite(start) && start > picture.start + kSameTime) {
            break;
        }
        found = std::move(frame);
        if (std::isfinite(start) && start >= picture.start - kSameTime) {
            break;
        }
    }
    return found ? movie->picture(*found, maxWidth, maxHeight, true, image::PixelFormat::RGBA8)
                 : nullptr;
}

void PlaybackDecoder::run() {
    const std::function<bool()> stop = [this] { return stop_.load(); };
    MovieDecoder::Failure failure = MovieDecoder::Failure::Open;
    auto movie = MovieDecoder::open(location_, failure, &stop, cache_);
    if (!movie) {
        queue_.fail();
        return;
    }
    const double origin = movie->originSeconds();
    const double frameDuration = movie->frameDurationSeconds();
    queue_.setFrameSeconds(frameDuration);
    const std::function<double(double)> keyFrameAtOrBefore = [&](double seconds) {
        const double key = movie->keyFrameAtOrBefore(seconds + origin);
        return key < 0 ? -1.0 : key - origin;
    };
    // The newest frame decoded, not converted until the next shows whether it is ever seen.
    libav::FramePtr held;
    FrameQueue::Held heldAt;
    uint64_t serial = 0;
    // The time of the latest seek, and how far back to go when it finds no frame.
    double seekedTo = 0;
    double backOff = 1.0;
    bool nextIsFirst = true;  // no frame decoded yet since the open or the last seek
    bool finished = false;    // no frame after `held`
    while (!stop_) {
        const FrameQueue::Work work = queue_.awaitWork(heldAt, finished, keyFrameAtOrBefore);
        if (work.kind == FrameQueue::Work::Kind::Stop) {
            break;
        }
        if (work.kind == FrameQueue::Work::Kind::Seek) {
            seekedTo = work.seconds;
            backOff = 1.0;
            movie->seek(seekedTo + origin);
            held.reset();
            heldAt = {};
            serial = work.serial;
            nextIsFirst = true;
            finished = false;
            continue;
        }
        libav::FramePtr frame = movie->nextFrame();
        framesDecoded_ = movie->framesDecoded();
        double start = frame ? movie->frameSeconds(*frame) - origin : 0;
        if (frame && !std::isfinite(start)) {
            start = held ? heldAt.start + frameDuration : 0;
        }
        if (held) {
            if (queue_.wouldShow(serial, heldAt, frame ? &start : nullptr)) {
                auto picture = std::make_shared<Picture>();
                picture->bitmap = movie->picture(*held, work.maxWidth, work.maxHeight, true,
                                                 image::PixelFormat::BGRA8);
                picture->start = heldAt.start;
                picture->serial = serial;
                picture->first = heldAt.first;
                if (picture->bitmap) {
                    queue_.push(std::move(picture));
                }
            }
            held.reset();
            heldAt = {};
        }
        if (frame) {
            queue_.decoded(serial, start);
            held = std::move(frame);
            heldAt = {start, nextIsFirst};
            nextIsFirst = false;
        } else if (nextIsFirst && seekedTo > 0) {
            // A seek past the last frame found nothing (a container without an index lands at
            // its end): further back, until the movie's last frames are decoded again.
            seekedTo = std::max(0.0, seekedTo - backOff);
            backOff *= 2;
            movie->seek(seekedTo + origin);
        } else {
            finished = true;
            queue_.ended(serial);
        }
    }
}

}  // namespace pelmar::av::internal
