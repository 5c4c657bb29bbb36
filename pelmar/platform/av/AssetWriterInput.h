#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "pelmar/platform/av/CaptureTypes.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

class AssetWriter;

// H.264 output of a given size (odd sizes are rounded down to even).
struct VideoSettings {
    int width = 1080;
    int height = 1920;
};

// AAC output.
struct AudioSettings {
    int channels = 2;
    int sampleRate = 44100;
    int bitRate = 128000;
};

// AssetWriterInput: one track of an asset writer. Video takes sample buffers holding BGRA or ARGB
// pictures (scaled to the track's size, aspect kept, black bars); audio takes interleaved signed
// 16-bit PCM of any rate and 1 or 2 channels (converted to the track's format).
// Ownership: made with createVideo()/createAudio(); a writer holds the inputs added to it, an input
//     refers to its writer weakly.
// Threads: thread-safe.
// Errors: append() returns false when the sample was not taken: the writer is not writing or has no
//     session yet, the input is not in a writer, the sample is of the wrong kind, its time does not
//     come after the previous one, the track's queue is full (see isReadyForMoreMediaData()), or
//     the writer failed (see AssetWriter::error()), or the input was marked as finished.
class AssetWriterInput {
public:
    static std::shared_ptr<AssetWriterInput> createVideo(VideoSettings settings);

    static std::shared_ptr<AssetWriterInput> createAudio(AudioSettings settings);

    AssetWriterInput(const AssetWriterInput&) = delete;
    AssetWriterInput& operator=(const AssetWriterInput&) = delete;

    MediaType mediaType() const { return media_; }

    const std::optional<VideoSettings>& videoSettings() const { return video_; }

    const std::optional<AudioSettings>& audioSettings() const { return audio_; }

    bool expectsMediaDataInRealTime() const { return realTime_.load(); }

    void setExpectsMediaDataInRealTime(bool realTime) { realTime_.store(realTime); }

    // False while the writer is not writing or this track's queue is full (a real-time producer
    // then drops the sample). Encoding takes no clock time: while the clock stands still a full
    // queue is waited for (up to 20 real seconds); once it moves, full means not ready.
    bool isReadyForMoreMediaData() const;

    bool append(const std::shared_ptr<const media::SampleBuffer>& sample);

    // No more samples come for this track: from now on it is never ready and takes no sample.
    // What was appended before is still written.
    void markAsFinished() { finished_.store(true); }

    bool isFinished() const { return finished_.load(); }

    // Test hook: answer "not ready" whatever the queue holds.
    void setForcedNotReady(bool notReady) { forcedNotReady_.store(notReady); }

    std::shared_ptr<AssetWriter> writer() const;

private:
    friend class AssetWriter;

    AssetWriterInput(MediaType media,
                     std::optional<VideoSettings> video,
                     std::optional<AudioSettings> audio)
        : media_(media), video_(video), audio_(audio) {}

    void attach(const std::shared_ptr<AssetWriter>& writer);

    const MediaType media_;
    const std::optional<VideoSettings> video_;
    const std::optional<AudioSettings> audio_;
    std::atomic<bool> realTime_{false};
    std::atomic<bool> forcedNotReady_{false};
    std::atomic<bool> finished_{false};
    mutable Mutex mutex_;
    std::weak_ptr<AssetWriter> writer_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
