#include "pelmar/platform/av/PlayerItem.h"

#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar::av {

std::shared_ptr<PlayerItem> PlayerItem::create(std::shared_ptr<Asset> asset) {
    return std::make_shared<PlayerItem>(Key{}, std::move(asset));
}

std::shared_ptr<PlayerItem> PlayerItem::create(std::string url) {
    return create(URLAsset::create(std::move(url)));
}

PlayerItem::PlayerItem(Key, std::shared_ptr<Asset> asset) : asset_(std::move(asset)) {}

std::optional<Error> PlayerItem::error() const {
    MutexLock lock(mutex_);
    return error_;
}

media::Time PlayerItem::duration() const {
    MutexLock lock(mutex_);
    return duration_;
}

void PlayerItem::load() {
    {
        MutexLock lock(mutex_);
        if (loading_) {
            return;
        }
        loading_ = true;
    }
    if (!asset_) {
        {
            MutexLock lock(mutex_);
            error_ = Error{std::string(kAssetErrorDomain), kAssetErrorUnparsable, "no asset"};
        }
        dispatch::Queue::main()->async(
                [self = shared_from_this()] { self->status.set(Status::Failed); });
        return;
    }
    std::weak_ptr<PlayerItem> weak = weak_from_this();
    asset_->loadValuesAsynchronously([weak] {
        if (auto self = weak.lock()) {
            dispatch::Queue::main()->async([self] { self->finishLoading(); });
        }
    });
}

void PlayerItem::finishLoading() {
    Status result = Status::ReadyToPlay;
    {
        MutexLock lock(mutex_);
        if (asset_->isPlayable()) {
            duration_ = asset_->duration();
        } else {
            error_ = asset_->error().value_or(Error{std::string(kAssetErrorDomain),
                                                    kAssetErrorUnparsable,
                                                    "nothing to play: no audio or video track"});
            result = Status::Failed;
        }
    }
    status.set(result);
}

}  // namespace pelmar::av
