#include "pelmar/recorder/internal/RecorderPipeline.h"

#include <cmath>
#include <utility>
#include <vector>

#include "pelmar/recorder/internal/RecorderText.h"

namespace pelmar::recorder::internal {

void RecorderPipeline::reset() {
    duration_.store(0);
    durationExceeded_ = false;
    isPaused_.store(false);
    discont_.store(false);
    timeOffset_ = media::Time::make(0, 0);
    lastVideo_.reset();
    lastAudio_.reset();
    lastWrittenVideo_.reset();
    firstSampleRendered_ = false;
    firstSampleTimestamp_ = 0;
    started_.store(false);
}

bool RecorderPipeline::open(const std::filesystem::path& path,
                            int width,
                            int height,
                            Error* error) {
    auto writer = av::AssetWriter::create(path, error);
    if (!writer) {
        return false;
    }
    writer_ = writer;
    auto video = av::AssetWriterInput::createVideo({width, height});
    video->setExpectsMediaDataInRealTime(true);
    videoInput_ = video;
    if (writer->canAddInput(video)) {
        writer->addInput(video);
    }
    auto audio = av::AssetWriterInput::createAudio({2, 44100, 128000});
    audio->setExpectsMediaDataInRealTime(true);
    audioInput_ = audio;
    videoAdaptor_ =
            av::AssetWriterInputPixelBufferAdaptor::create(video, media::PixelFormat::ARGB32);
    if (writer->canAddInput(audio)) {
        writer->addInput(audio);
    }
    return true;
}

std::shared_ptr<av::AssetWriter> RecorderPipeline::take() {
    audioInput_.reset();
    videoInput_.reset();
    videoAdaptor_.reset();
    started_.store(false);
    return std::exchange(writer_, nullptr);
}

void RecorderPipeline::pause() {
    isPaused_.store(true);
    discont_.store(true);
}

std::shared_ptr<const media::SampleBuffer> RecorderPipeline::adjustTime(
        const std::shared_ptr<const media::SampleBuffer>& sample, media::Time offset) {
    if (!sample || !offset.isNumeric()) {
        return nullptr;
    }
    std::vector<media::SampleTimingInfo> timings = sample->timingInfo();
    for (auto& t : timings) {
        if (t.presentationTimeStamp.isValid()) {
            t.presentationTimeStamp = t.presentationTimeStamp - offset;
        }
        if (t.decodeTimeStamp.isValid()) {
            t.decodeTimeStamp = t.decodeTimeStamp - offset;
        }
    }
    return sample->copyWithNewTiming(std::move(timings));
}

std::optional<RecorderPipeline::Placed> RecorderPipeline::place(
        bool isVideo, std::shared_ptr<const media::SampleBuffer> sample) {
    (isVideo ? handledVideo_ : handledAudio_).fetch_add(1);
    if (isPaused() || !sample) {
        return std::nullopt;
    }
    media::Time pts = sample->presentationTimeStamp();
    if (!pts.isNumeric()) {
        // Without a time the sample cannot be placed in the movie, and its time would turn the
        // duration and the pause offsets into NaN.
        return std::nullopt;
    }
    if (discont_.load()) {
        const auto& last = isVideo ? lastVideo_ : lastAudio_;
        if (last) {
            if (timeOffset_.value > 0) {
                pts = pts - timeOffset_;
            }
            const media::Time offset = pts - *last;
            timeOffset_ = timeOffset_.value == 0 ? offset : timeOffset_ + offset;
        }
        discont_.store(false);
    }
    if (timeOffset_.value > 0) {
        sample = adjustTime(sample, timeOffset_);
        if (!sample) {
            return std::nullopt;  // a sample whose timing cannot be shifted is dropped
        }
    }
    pts = sample->presentationTimeStamp();
    if (!pts.isNumeric()) {
        return std::nullopt;
    }
    const media::Time duration = sample->duration();
    media::Time end = duration.isNumeric() && duration.value > 0 ? pts + duration : pts;
    if (!end.isNumeric()) {
        end = pts;  // a duration too long to add
    }
    (isVideo ? lastVideo_ : lastAudio_) = end;
    return Placed{std::move(sample), end};
}

bool RecorderPipeline::writeVideo(const Placed& frame, bool blurred, double maxSeconds) {
    if (durationExceeded_) {
        return false;
    }
    const media::Time time =
            options_.timeFramesByPresentation ? frame.sample->presentationTimeStamp() : frame.end;
    currentVideoTime_ = frame.sample->presentationTimeStamp();
    const double t = time.seconds();
    if (auto writer = writer_) {
        if (writer->status() == av::AssetWriter::Status::Unknown) {
            writer->startWriting();
            writer->startSession(time);
            started_.store(writer->status() == av::AssetWriter::Status::Writing);
            log_("session started with time " + shortestDouble(t));
            firstSampleTimestamp_ = t;
        }
        if (writer->status() == av::AssetWriter::Status::Failed) {
            log_("movie asset writer failed");
        } else if (videoInput_ && videoInput_->isReadyForMoreMediaData()) {
            if (!blurred) {
                if (videoInput_->append(frame.sample)) {
                    firstSampleRendered_ = true;
                    lastWrittenVideo_ = frame.sample->presentationTimeStamp();
                } else {
                    log_("video sample buffer writing error");
                }
            }
            if (maxSeconds > 0 && std::fabs(t - firstSampleTimestamp_) >= maxSeconds) {
                durationExceeded_ = true;
                duration_.store(t - firstSampleTimestamp_);
                return true;
            }
        }
    }
    duration_.store(t - firstSampleTimestamp_);
    return false;
}

void RecorderPipeline::writeAudio(const Placed& sound) {
    auto writer = writer_;
    if (audioInput_ && firstSampleRendered_ && writer
        && writer->status() == av::AssetWriter::Status::Writing
        && audioInput_->isReadyForMoreMediaData()) {
        if (!audioInput_->append(sound.sample)) {
            log_("audio sample buffer writing error");
        }
    }
}

void RecorderPipeline::writePicture(const std::shared_ptr<media::PixelBuffer>& picture,
                                    media::Time time) {
    handledPictures_.fetch_add(1);
    if (!picture || durationExceeded_ || !videoAdaptor_ || !videoInput_ || !writer_
        || writer_->status() != av::AssetWriter::Status::Writing) {
        return;
    }
    if (lastWrittenVideo_ && time <= *lastWrittenVideo_) {
        return;  // a late result must not go back in time
    }
    if (!videoInput_->isReadyForMoreMediaData()) {
        return;
    }
    if (videoAdaptor_->append(picture, time)) {
        firstSampleRendered_ = true;
        lastWrittenVideo_ = time;
    }
}

void finishMovie(const std::shared_ptr<av::AssetWriter>& writer,
                 std::function<void(const std::optional<Error>& error)> done) {
    std::weak_ptr<av::AssetWriter> weakWriter = writer;
    writer->finishWriting([weakWriter, done = std::move(done)] {
        std::optional<Error> error;
        if (auto w = weakWriter.lock(); w && w->status() != av::AssetWriter::Status::Completed) {
            error = w->error().value_or(Error{std::string(av::kAssetWriterErrorDomain),
                                              av::kAssetWriterErrorMuxer,
                                              "the movie could not be finished"});
        }
        done(error);
    });
}

}  // namespace pelmar::recorder::internal
