#include "pelmar/platform/av/Asset.h"

#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar::av {

void Asset::loadValuesAsynchronously(std::function<void()> completion) {
    dispatch::Queue::global()->async(
            [self = shared_from_this(), completion = std::move(completion)] {
                self->loadNow();
                if (completion) {
                    completion();
                }
            });
}

void Asset::cancelLoading() {
    MutexLock lock(mutex_);
    cancelRequested_ = true;
    if (status_ == Status::Unknown) {
        status_ = Status::Cancelled;
        error_ = Error{std::string(kAssetErrorDomain), kAssetErrorCancelled,
                       "loading was cancelled"};
        loaded_.notifyAll();
    }
}

void Asset::loadNow() const {
    {
        MutexLock lock(mutex_);
        while (status_ == Status::Loading) {
            loaded_.wait(mutex_);
        }
        if (status_ != Status::Unknown) {
            return;
        }
        status_ = Status::Loading;
    }
    LoadResult result = load([this] {
        MutexLock lock(mutex_);
        return cancelRequested_;
    });
    MutexLock lock(mutex_);
    if (cancelRequested_) {
        status_ = Status::Cancelled;
        error_ = Error{std::string(kAssetErrorDomain), kAssetErrorCancelled,
                       "loading was cancelled"};
    } else if (result.error) {
        status_ = Status::Failed;
        error_ = std::move(result.error);
    } else {
        status_ = Status::Loaded;
        contents_ = std::move(result.contents);
    }
    loaded_.notifyAll();
}

void Asset::markLoaded(Contents contents) {
    MutexLock lock(mutex_);
    contents_ = std::move(contents);
    status_ = Status::Loaded;
    error_.reset();
    loaded_.notifyAll();
}

Asset::Status Asset::status() const {
    MutexLock lock(mutex_);
    return status_;
}

std::optional<Error> Asset::error() const {
    MutexLock lock(mutex_);
    return error_;
}

media::Time Asset::duration() const {
    loadNow();
    MutexLock lock(mutex_);
    return contents_.duration;
}

Asset::Tracks Asset::tracks() const {
    loadNow();
    MutexLock lock(mutex_);
    return contents_.tracks;
}

Asset::Tracks Asset::tracks(TrackMediaType type) const {
    Tracks all = tracks();
    std::erase_if(all, [type](const auto& track) { return track->mediaType() != type; });
    return all;
}

bool Asset::isPlayable() const {
    const Tracks all = tracks();
    return status() == Status::Loaded && std::any_of(all.begin(), all.end(), [](const auto& track) {
               return track->mediaType() != TrackMediaType::Text;
           });
}

}  // namespace pelmar::av
