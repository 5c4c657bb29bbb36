#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/media/Time.h"

namespace pelmar::av {

class AssetReaderTrackOutput;

// Errors of the asset reader and the audio file players.
inline constexpr std::string_view kAssetReaderErrorDomain = "pelmar.av.assetreader";

enum class AssetReaderErrorCode : long {
    cannotOpen = 1,    // missing or unreadable file
    noAudioTrack = 2,  // the file holds no audio stream
    decodeFailed = 3,  // the codec or the resampler failed
};

// What a file's first audio track is: its duration in ticks of the sample rate (so that a count
// of sample frames is a tick count), its rate and channel count, and the codec's name.
struct AudioTrackInfo {
    media::Time duration;
    double sampleRate = 0;
    int channels = 0;
    std::string codecName;
};

// AssetReader: decodes the first audio track of a local file (any container and codec FFmpeg
// reads) over a time range, handing the PCM to its one track output in chunks.
// Ownership: made with open(); owns the demuxer, decoder and resampler; the output refers back
//     to it weakly.
// Threads: thread-compatible.
// Errors: open() returns null and fills `error` (kAssetReaderErrorDomain) for a missing file or
//     one without audio; a decoding failure mid-way ends reading with status failed and error().
// Limits: one chunk holds kFramesPerChunk frames; nothing else is buffered.
class AssetReader : public std::enable_shared_from_this<AssetReader> {
public:
    enum class Status { unknown, reading, completed, failed, cancelled };

    static constexpr int kFramesPerChunk = 8192;

    static std::shared_ptr<AssetReader> open(const std::string& path, std::optional<Error>* error);

    // The first audio track of `path`, or the reason there is none.
    static std::optional<AudioTrackInfo> probeAudio(const std::string& path,
                                                    std::optional<Error>* error = nullptr);

    // A reader of the whole of `path` with one output, already reading; both null when the
    // file cannot be read.
    static std::pair<std::shared_ptr<AssetReader>, std::shared_ptr<AssetReaderTrackOutput>>
    startReadingFile(const std::string& path);

    ~AssetReader();
    AssetReader(const AssetReader&) = delete;
    AssetReader& operator=(const AssetReader&) = delete;

    const AudioTrackInfo& audioTrack() const { return track_; }

    // The part of the file to read; a duration that reaches past the end reads to the end. Set
    // before startReading(). By default the whole file.
    void setTimeRange(media::Time start, media::Time duration);

    bool canAdd(const AssetReaderTrackOutput& output) const;
    void add(const std::shared_ptr<AssetReaderTrackOutput>& output);

    // False (status failed) without an output or when the decoder cannot start.
    bool startReading();
    void cancelReading();

    Status status() const { return status_; }

    const std::optional<Error>& error() const { return error_; }

    struct State;

private:
    friend class AssetReaderTrackOutput;
    explicit AssetReader(std::unique_ptr<State> state, AudioTrackInfo track);

    // Decodes up to `maxFrames` frames of interleaved s16 into `out`; 0 at the end or on failure.
    int64_t readFrames(std::vector<uint8_t>& out, int64_t maxFrames);

    std::unique_ptr<State> state_;
    AudioTrackInfo track_;
    Status status_ = Status::unknown;
    std::optional<Error> error_;
    std::shared_ptr<AssetReaderTrackOutput> output_;
};

// AssetReaderTrackOutput: the audio of an asset reader as signed 16-bit little-endian
// interleaved PCM, at the track's own rate and channel count.
// Ownership: made with std::make_shared and added to one reader, which it refers to weakly.
// Threads: thread-compatible (with its reader).
// Errors: copyNextSampleBuffer() returns null at the end, after a failure or a cancel.
class AssetReaderTrackOutput {
public:
    AssetReaderTrackOutput() = default;

    // Kept for callers that state it; chunks are always fresh buffers here.
    bool alwaysCopiesSampleData = true;

    // The next chunk: numSamples() frames of interleaved s16 under a pcm16 format description.
    std::shared_ptr<media::SampleBuffer> copyNextSampleBuffer();

private:
    friend class AssetReader;
    std::weak_ptr<AssetReader> reader_;
    int64_t framesOut_ = 0;
};

}  // namespace pelmar::av
