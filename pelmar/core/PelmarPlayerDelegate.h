#pragma once

// PelmarPlayerDelegate: playback events of the video and audio players. Optional methods.
// Ownership: held strongly by the facade.
// Threads: called where the player's observations arrive; implementations must be thread-safe.
// Errors: none.

namespace pelmar {

class PelmarPlayerDelegate {
public:
    virtual ~PelmarPlayerDelegate() = default;

    virtual void playerPlaying() {}

    virtual void playerPaused() {}

    virtual void playerEnded() {}

    // The position sought, in seconds.
    virtual void playerSeek(double /*seconds*/) {}

    virtual void playerReadyToPlay() {}

    virtual void playerCancelledByUser() {}
};

}  // namespace pelmar
