#include "pelmar/platform/mediaplayer/NowPlayingInfoCenter.h"

#include <utility>

namespace pelmar::mediaplayer {

NowPlayingInfoCenter& NowPlayingInfoCenter::defaultCenter() {
    static NowPlayingInfoCenter* center = new NowPlayingInfoCenter();
    return *center;
}

std::optional<Json> NowPlayingInfoCenter::nowPlayingInfo() const {
    MutexLock lock(mutex_);
    return info_;
}

void NowPlayingInfoCenter::setNowPlayingInfo(std::optional<Json> info) {
    MutexLock lock(mutex_);
    info_ = std::move(info);
}

void NowPlayingInfoCenter::beginReceivingRemoteControlEvents() {
    MutexLock lock(mutex_);
    remoteControl_ = true;
}

bool NowPlayingInfoCenter::isReceivingRemoteControlEvents() const {
    MutexLock lock(mutex_);
    return remoteControl_;
}

void NowPlayingInfoCenter::reset() {
    MutexLock lock(mutex_);
    info_.reset();
    remoteControl_ = false;
}

}  // namespace pelmar::mediaplayer
