#pragma once

#include <filesystem>
#include <memory>

#include "pelmar/audio/AudioErrorType.h"
#include "pelmar/platform/av/AudioPlayer.h"

namespace pelmar::dispatch {
class Timer;
}

namespace pelmar {

// AudioPlayerManager: plays a recording back and posts its output level every metering interval
// while playing, and its end, as notifications (AudioNotifications.h). Prints one console line
// per step.
// Ownership: one process-wide instance (shared()); owns its platform player and metering timer,
//     which refers to it weakly.
// Threads: shared() and resetShared() are thread-safe (one instance however many threads ask
//     first); the rest is main thread only.
// Errors: play() and resume() throw AudioException, or the platform's av::AudioError for the
//     audio session and player creation.
class AudioPlayerManager : public std::enable_shared_from_this<AudioPlayerManager>,
                           public av::AudioPlayerDelegate {
public:
    static std::shared_ptr<AudioPlayerManager> shared();
    // Drops the shared instance; the next shared() makes a new one.
    static void resetShared();

    ~AudioPlayerManager() override;

    const std::shared_ptr<av::AudioPlayer>& audioPlayer() const { return player_; }

    bool hasMeteringTimer() const;

    // Starts `url` from its beginning; returns its duration in seconds.
    double play(const std::filesystem::path& url, double interval);
    // Plays on from the current position; returns the time left in seconds.
    double resume();
    void pause();
    void setCurrentTime(double seconds);

    void timerDidUpdateMeter();

    void audioPlayerDidFinishPlaying(av::AudioPlayer& player, bool ok) override;

private:
    AudioPlayerManager() = default;
    void invalidateMeteringTimer();

    std::shared_ptr<av::AudioPlayer> player_;
    std::shared_ptr<dispatch::Timer> meteringTimer_;
};

}  // namespace pelmar
