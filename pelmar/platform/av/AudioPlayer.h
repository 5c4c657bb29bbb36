#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/av/AudioError.h"

namespace pelmar::dispatch {
class Timer;
}

namespace pelmar::av {

class AudioPlayer;

// The player's delegate; called on the main thread.
class AudioPlayerDelegate {
public:
    virtual ~AudioPlayerDelegate() = default;

    virtual void audioPlayerDidFinishPlaying(AudioPlayer& /*player*/, bool /*ok*/) {}
};

// AudioPlayer: plays a local audio file on the installed clock (no sound device): the position
// moves with the clock while playing; at the end the position goes back to 0, playing stops and
// the delegate hears of it. The duration is the one FFmpeg reports for the file's audio track.
// Metering reports the average and peak power of channel 0 in dBFS (floor -160) over the part
// played since the last updateMeters().
// Ownership: made with create(), held by shared_ptr; refers to its delegate weakly; its end timer
//     refers to it weakly.
// Threads: main thread only.
// Errors: create() throws AudioError (playerCreationFailed) for a missing file, a file without
//     audio or an injected fault, with the reader's message; play() returns false when made to
//     fail.
class AudioPlayer : public std::enable_shared_from_this<AudioPlayer> {
public:
    struct Faults {
        bool failCreate = false;
        bool failPlay = false;
    };

    static void setFaults(Faults faults);
    static Faults faults();

    static std::shared_ptr<AudioPlayer> create(const std::string& path);

    ~AudioPlayer();
    AudioPlayer(const AudioPlayer&) = delete;
    AudioPlayer& operator=(const AudioPlayer&) = delete;

    const std::string& url() const { return path_; }

    void setDelegate(std::weak_ptr<AudioPlayerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    bool isMeteringEnabled() const { return metering_; }

    void setMeteringEnabled(bool enabled) { metering_ = enabled; }

    bool prepareToPlay() { return true; }

    bool play();
    void pause();
    // Pauses; the position stays.
    void stop();

    bool isPlaying() const { return playing_; }

    double duration() const { return duration_; }

    double currentTime() const;
    // Clamped to [0, duration].
    void setCurrentTime(double seconds);

    void updateMeters();
    float averagePower(int channel) const;
    float peakPower(int channel) const;

private:
    AudioPlayer(std::string path, double duration, int channels);

    void armEnd();
    void reachEnd();
    void loadLevels();

    const std::string path_;
    const double duration_;
    const int channels_;
    std::weak_ptr<AudioPlayerDelegate> delegate_;
    bool metering_ = false;
    bool playing_ = false;
    double position_ = 0;  // while paused; while playing, at startClock_
    double startClock_ = 0;
    double meteredUpTo_ = 0;
    std::shared_ptr<dispatch::Timer> endTimer_;
    // Mean square of channel 0 per block of kLevelBlockSeconds, read on the first updateMeters().
    static constexpr double kLevelBlockSeconds = 0.01;
    bool levelsLoaded_ = false;
    std::vector<float> meanSquares_;
    std::vector<float> peaks_;
    float average_ = -160;
    float peak_ = -160;
};

}  // namespace pelmar::av
