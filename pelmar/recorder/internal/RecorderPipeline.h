#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/AssetWriterInput.h"
#include "pelmar/platform/av/AssetWriterInputPixelBufferAdaptor.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/media/Time.h"

namespace pelmar::recorder::internal {

// RecorderPipeline: the camera screen's recording path: one movie writer with its video input,
// picture adaptor and audio input, and the timing of the samples written to it: pauses are cut
// out by shifting later samples back, the movie starts at its first camera frame, audio waits
// for that frame, a blurred picture never goes back in time, and the duration limit is checked
// at every written frame.
// Ownership: owned by the recorder; owns the writer and its inputs until take() hands the
// writer on.
// Threads: the session queue, except open() (any thread, while the session queue waits) and the
// atomics read through isPaused(), duration(), isRecording(), hasStarted() and the handled
// counts (any thread).
// Errors: open() returns false (with the writer's error) when no writer can be made; append
// failures and a failed writer are logged through the log function, per sample.
class RecorderPipeline {
public:
    using LogFn = std::function<void(const std::string&)>;

    // How a screen uses the pipeline. The defaults are the camera screen's.
    struct Options {
        // The movie starts at the first frame's presentation time, and a frame's time (for the
        // duration and the limit) is its presentation time; otherwise both use the frame's end.
        bool timeFramesByPresentation = false;
    };

    explicit RecorderPipeline(LogFn log) : log_(std::move(log)) {}

    RecorderPipeline(LogFn log, Options options) : log_(std::move(log)), options_(options) {}

    // Forgets every timing of an earlier recording.
    void reset();

    // Makes the writer for a `width` x `height` H.264 movie with AAC stereo sound at `path`.
    bool open(const std::filesystem::path& path, int width, int height, Error* error);

    bool hasWriter() const { return writer_ != nullptr; }

    // Gives up the writer and its inputs; the pipeline then records nothing.
    std::shared_ptr<av::AssetWriter> take();

    // A sample on the movie's time line, and where it ends there.
    struct Placed {
        std::shared_ptr<const media::SampleBuffer> sample;
        media::Time end;
    };

    // Places `sample` on the movie's time line (the pauses cut out) and counts it. Nothing when
    // it is not to be written: while paused, or without a usable time.
    std::optional<Placed> place(bool isVideo, std::shared_ptr<const media::SampleBuffer> sample);

    // Writes a placed camera frame (not while `blurred`: the segmentation's pictures go in
    // instead). True when the frame reached `maxSeconds` (0: no limit): the recording is to stop.
    bool writeVideo(const Placed& frame, bool blurred, double maxSeconds);

    void writeAudio(const Placed& sound);

    // Writes a segmented picture at `time`, the time of the frame it was made from; counted in
    // handledPictures() whether or not it is written.
    void writePicture(const std::shared_ptr<media::PixelBuffer>& picture, media::Time time);

    // A copy of `sample` with `offset` subtracted from every presentation and decode time; null
    // without a sample, without a valid offset, or when the copy cannot be made.
    static std::shared_ptr<const media::SampleBuffer> adjustTime(
            const std::shared_ptr<const media::SampleBuffer>& sample, media::Time offset);

    // Pause and resume (any thread): samples are dropped while paused, and the gap is cut out.
    void pause();

    void resume() { isPaused_.store(false); }

    bool isPaused() const { return isPaused_.load(); }

    // Seconds recorded so far.
    double duration() const { return duration_.load(); }

    // The writer has taken its first frame.
    bool hasStarted() const { return started_.load(); }

    void setStarted(bool started) { started_.store(started); }

    int64_t handledVideoSamples() const { return handledVideo_.load(); }

    // The presentation time of the last camera frame timed by writeVideo() (audio never sets
    // it); none before the first. Session queue.
    const std::optional<media::Time>& currentVideoTime() const { return currentVideoTime_; }

    int64_t handledAudioSamples() const { return handledAudio_.load(); }

    int64_t handledPictures() const { return handledPictures_.load(); }

private:
    LogFn log_;
    const Options options_;
    std::shared_ptr<av::AssetWriter> writer_;
    std::shared_ptr<av::AssetWriterInput> audioInput_;
    std::shared_ptr<av::AssetWriterInput> videoInput_;
    std::shared_ptr<av::AssetWriterInputPixelBufferAdaptor> videoAdaptor_;
    bool firstSampleRendered_ = false;
    double firstSampleTimestamp_ = 0;
    bool durationExceeded_ = false;
    media::Time timeOffset_ = media::Time::make(0, 0);
    std::optional<media::Time> lastVideo_;
    std::optional<media::Time> lastAudio_;
    std::optional<media::Time> lastWrittenVideo_;
    std::optional<media::Time> currentVideoTime_;
    std::atomic<bool> isPaused_{false};
    std::atomic<bool> discont_{false};
    std::atomic<bool> started_{false};
    std::atomic<double> duration_{0};
    std::atomic<int64_t> handledVideo_{0};
    std::atomic<int64_t> handledAudio_{0};
    std::atomic<int64_t> handledPictures_{0};
};

// Finishes the movie of a writer that take() handed on; `done` hears, on the writer's thread, the
// error of a movie that could not be finished, or none.
void finishMovie(const std::shared_ptr<av::AssetWriter>& writer,
                 std::function<void(const std::optional<Error>& error)> done);

}  // namespace pelmar::recorder::internal
