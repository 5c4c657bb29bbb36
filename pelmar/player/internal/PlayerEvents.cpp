#include "pelmar/player/internal/PlayerEvents.h"

#include "pelmar/player/internal/PlayerText.h"

namespace pelmar::player::internal {

bool PlayerEvents::changeTo(const std::string& text) {
    MutexLock lock(mutex_);
    if (beforeEvent_ == text) {
        return false;
    }
    beforeEvent_ = text;
    return true;
}

std::string PlayerEvents::beforeEvent() const {
    MutexLock lock(mutex_);
    return beforeEvent_;
}

void PlayerEvents::readyToPlay() {
    if (!changeTo("pelmarPlayerReadyToPlay")) {
        return;
    }
    if (auto delegate = delegate_ ? delegate_() : nullptr) {
        delegate->playerReadyToPlay();
    }
}

void PlayerEvents::timeControlStatus(int status, double currentSeconds) {
    switch (status) {
        case kPlaying:
            if (changeTo("pelmarPlayerPlaying")) {
                if (auto delegate = delegate_ ? delegate_() : nullptr) {
                    delegate->playerPlaying();
                }
            }
            return;
        case kWaiting: {
            const double seconds = roundToHundredths(currentSeconds);
            if (changeTo("pelmarPlayerSeek:" + shortestDecimal(seconds))) {
                if (auto delegate = delegate_ ? delegate_() : nullptr) {
                    delegate->playerSeek(seconds);
                }
            }
            return;
        }
        case kPaused:
            if (changeTo("pelmarPlayerPaused")) {
                if (auto delegate = delegate_ ? delegate_() : nullptr) {
                    delegate->playerPaused();
                }
            }
            return;
        default:
            return;
    }
}

void PlayerEvents::ended() {
    if (!changeTo("pelmarPlayerEnded")) {
        return;
    }
    if (auto delegate = delegate_ ? delegate_() : nullptr) {
        delegate->playerEnded();
    }
}

}  // namespace pelmar::player::internal
