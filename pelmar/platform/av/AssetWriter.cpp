#include "pelmar/platform/av/AssetWriter.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <utility>

#include "pelmar/platform/av/internal/MovieEncoder.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/LateGate.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar::av {

namespace {

std::atomic<std::size_t> gPendingWork{0};

}  // namespace

void AssetWriter::WorkCount::start() {
    if (!counted) {
        ++gPendingWork;
        counted = true;
    }
}

AssetWriter::WorkCount::~WorkCount() {
    if (counted) {
        --gPendingWork;
    }
}

AssetWriter::WorkCount::WorkCount(WorkCount&& other) noexcept : counted(other.counted) {
    other.counted = false;
}

AssetWriter::WorkCount& AssetWriter::WorkCount::operator=(WorkCount&& other) noexcept {
    if (this != &other) {
        if (counted) {
            --gPendingWork;
        }
        counted = other.counted;
        other.counted = false;
    }
    return *this;
}

std::size_t AssetWriter::pendingWorkInAllWriters() {
    return gPendingWork.load();
}

namespace {

// How long isReadyForMoreMediaData waits for room while the clock stands still (real seconds).
constexpr double kReadyWaitWhileClockStands = 20;

std::atomic<int> injectedFailureForNewWriters{0};

void runLater(std::function<void()> completion) {
    if (completion) {
        dispatch::Queue::global()->async(std::move(completion));
    }
}

}  // namespace

std::shared_ptr<AssetWriter> AssetWriter::create(std::filesystem::path outputURL, Error* error) {
    std::error_code ec;
    const auto folder = outputURL.parent_path();
    if (outputURL.filename().empty()
        || (!folder.empty() && !std::filesystem::is_directory(folder, ec))) {
        if (error) {
            *error = Error{std::string(kAssetWriterErrorDomain), kAssetWriterErrorCannotOpen,
                           "cannot write a movie at " + outputURL.string() + ": no such folder"};
        }
        return nullptr;
    }
    return std::shared_ptr<AssetWriter>(new AssetWriter(std::move(outputURL)));
}

std::shared_ptr<AssetWriter> AssetWriter::create(std::filesystem::path outputURL,
                                                 FileType fileType,
                                                 Error* error) {
    auto writer = create(std::move(outputURL), error);
    if (writer) {
        writer->fileType_ = fileType;
    }
    return writer;
}

void AssetWriter::failWritersAfterAppends(int count) {
    injectedFailureForNewWriters.store(count > 0 ? count : 0);
}

AssetWriter::AssetWriter(std::filesystem::path output)
    : output_(std::move(output)), failCountdown_(injectedFailureForNewWriters.load()) {}

AssetWriter::~AssetWriter() {
    bool discard = false;
    {
        MutexLock lock(mutex_);
        if (status_ == Status::Writing || (status_ == Status::Failed && worker_.joinable())) {
            discard = status_ == Status::Writing;
            cancelled_ = true;
            if (discard) {
                status_ = Status::Cancelled;
            }
        }
    }
    changed_.notifyAll();
    stopThread();
    encoder_.reset();
    if (discard) {
        std::error_code ec;
        std::filesystem::remove(output_, ec);
    }
}

void AssetWriter::stopThread() {
    if (!worker_.joinable()) {
        return;
    }
    if (worker_.get_id() == std::this_thread::get_id()) {
        worker_.detach();  // a completion dropped the last reference; the thread ends by itself
    } else {
        worker_.join();
    }
}

AssetWriter::Status AssetWriter::status() const {
    MutexLock lock(mutex_);
    return status_;
}

std::optional<Error> AssetWriter::error() const {
    MutexLock lock(mutex_);
    return error_;
}

bool AssetWriter::canAddInput(const std::shared_ptr<AssetWriterInput>& input) const {
    if (!input || input->writer()) {
        return false;
    }
    MutexLock lock(mutex_);
    if (status_ != Status::Unknown) {
        return false;
    }
    for (const auto& existing : inputs_) {
        if (existing->mediaType() == input->mediaType()) {
            return false;
        }
    }
    return true;
}

void AssetWriter::addInput(const std::shared_ptr<AssetWriterInput>& input) {
    if (!canAddInput(input)) {
        return;
    }
    {
        MutexLock lock(mutex_);
        inputs_.push_back(input);
    }
    input->attach(shared_from_this());
}

bool AssetWriter::startWriting() {
    MutexLock lock(mutex_);
    if (status_ != Status::Unknown) {
        return status_ == Status::Writing;
    }
    std::optional<internal::MovieEncoder::VideoConfig> video;
    std::optional<internal::MovieEncoder::AudioConfig> audio;
    for (const auto& input : inputs_) {
        if (input->videoSettings()) {
            video = internal::MovieEncoder::VideoConfig{input->videoSettings()->width,
                                                        input->videoSettings()->height, 30};
        }
        if (input->audioSettings()) {
            const auto& s = *input->audioSettings();
            audio = internal::MovieEncoder::AudioConfig{s.channels, s.sampleRate, s.bitRate};
        }
    }
    if (!video && !audio) {
        failLocked(Error{std::string(kAssetWriterErrorDomain), kAssetWriterErrorCannotOpen,
                         "a movie needs at least one track"});
        return false;
    }
    auto encoder = std::make_unique<internal::MovieEncoder>();
    const char* container = fileType_ == FileType::QuickTimeMovie ? "mov" : "mp4";
    if (auto e = encoder->open(output_.string(), video, audio, container)) {
        const bool created = e->code != kAssetWriterErrorFileExists;
        encoder.reset();
        if (created) {
            std::error_code ec;
            std::filesystem::remove(output_, ec);
        }
        failLocked(*e);
        return false;
    }
    encoder_ = std::move(encoder);
    status_ = Status::Writing;
    worker_ = std::thread([this] { run(); });
    return true;
}

void AssetWriter::startSession(media::Time sourceTime) {
    MutexLock lock(mutex_);
    if (!sessionStart_ && sourceTime.isNumeric()) {
        sessionStart_ = sourceTime;
    }
}

void AssetWriter::failAfterAppends(int count) {
    MutexLock lock(mutex_);
    failCountdown_ = count > 0 ? count : 0;
}

void AssetWriter::failLocked(Error error) {
    if (status_ == Status::Writing || status_ == Status::Unknown) {
        status_ = Status::Failed;
        error_ = std::move(error);
    }
    changed_.notifyAll();
}

bool AssetWriter::injectedFailureLocked() {
    if (failCountdown_ > 0 && --failCountdown_ == 0) {
        failLocked(Error{std::string(kAssetWriterErrorDomain), kAssetWriterErrorInjected,
                         "the writer was made to fail"});
        return true;
    }
    return false;
}

bool AssetWriter::isReady(MediaType media, bool forcedNotReady) const {
    if (forcedNotReady) {
        return false;
    }
    MutexLock lock(mutex_);
    // Runs only with mutex_ held, inside waitWhileClockStands and below.
    auto hasRoom = [&]() PELMAR_NO_THREAD_SAFETY_ANALYSIS {
        return status_ != Status::Writing || finishing_
               || (media == MediaType::Video ? queuedPictures_ < kMaxQueuedVideoFrames
                                             : queuedSounds_ < kMaxQueuedAudioBuffers);
    };
    // Encoding takes no clock time: a full queue is waited for while the clock stands still,
    // and a real-time producer drops the sample once time has moved.
    dispatch::waitWhileClockStands(mutex_, changed_, hasRoom, kReadyWaitWhileClockStands);
    return status_ == Status::Writing && !finishing_ && hasRoom();
}

bool AssetWriter::appendPicture(std::shared_ptr<media::PixelBuffer> picture,
                                media::Time pts,
                                media::Time duration) {
    if (!picture || !pts.isNumeric()) {
        return false;
    }
    MutexLock lock(mutex_);
    if (status_ != Status::Writing || finishing_ || !sessionStart_) {
        return false;
    }
    // A producer that does not ask isReadyForMoreMediaData() first must not grow the queue
    // without bound.
    if (queuedPictures_ >= kMaxQueuedVideoFrames) {
        return false;
    }
    if (injectedFailureLocked()) {
        return false;
    }
    if (lastPicture_.isValid() && pts <= lastPicture_) {
        return false;
    }
    const double rel = (pts - *sessionStart_).seconds();
    if (rel < 0) {
        // Before the session: kept only in case it is still showing when the session starts.
        lastPicture_ = pts;
        pendingHead_ = std::move(picture);
        return true;
    }
    const auto p90 = std::llround(rel * internal::MovieEncoder::kVideoTimescale);
    if (p90 <= lastPicturePts_) {
        return false;
    }
    if (pendingHead_ && lastPicturePts_ < 0 && p90 > 0) {
        Job head;
        head.picture = std::move(pendingHead_);
        head.pts = 0;
        head.duration = p90;
        head.work.start();
        jobs_.push_back(std::move(head));
        ++queuedPictures_;
        lastPicturePts_ = 0;
    }
    pendingHead_.reset();
    Job job;
    job.picture = std::move(picture);
    job.pts = p90;
    if (lastPicturePts_ >= 0) {
        lastPictureInterval_ = p90 - lastPicturePts_;
    }
    job.duration =
            duration.isNumeric() && duration.value > 0 ? std::max<int64_t>(
                    1, std::llround(duration.seconds() * internal::MovieEncoder::kVideoTimescale))
                                                       : lastPictureInterval_;
    lastPicture_ = pts;
    lastPicturePts_ = p90;
    job.work.start();
    jobs_.push_back(std::move(job));
    ++queuedPictures_;
    lock.unlock();
    changed_.notifyAll();
    return true;
}

bool AssetWriter::appendSound(const std::shared_ptr<const media::SampleBuffer>& sound) {
    if (!sound || !sound->presentationTimeStamp().isNumeric()) {
        return false;
    }
    const auto& format = sound->formatDescription();
    const auto& asbd = format->audioStreamBasicDescription();
    // The encoder reads numSamples tightly packed frames of channelsPerFrame samples: any other
    // frame size would read past the payload or mix up the channels.
    if (format->mediaType() != MediaType::Audio || asbd.formatID != media::CodecType::LinearPCM
        || asbd.bitsPerChannel != 16 || asbd.isNonInterleaved || asbd.channelsPerFrame < 1
        || asbd.channelsPerFrame > 8 || asbd.bytesPerFrame != 2 * asbd.channelsPerFrame
        || asbd.sampleRate < 1000 || asbd.sampleRate > 384000) {
        return false;
    }
    MutexLock lock(mutex_);
    if (status_ != Status::Writing || finishing_ || !sessionStart_
        || queuedSounds_ >= kMaxQueuedAudioBuffers) {
        return false;
    }
    if (injectedFailureLocked()) {
        return false;
    }
    Job job;
    job.sound = sound;
    if (!soundStarted_) {
        int outRate = 44100;
        for (const auto& input : inputs_) {
            if (input->audioSettings()) {
                outRate = input->audioSettings()->sampleRate;
            }
        }
        const double rel = (sound->presentationTimeStamp() - *sessionStart_).seconds();
        const double length = static_cast<double>(sound->numSamples()) / asbd.sampleRate;
        if (rel + length <= 0) {
            return true;  // wholly before the session
        }
        job.skipFrames = rel < 0 ? static_cast<int>(std::llround(-rel * asbd.sampleRate)) : 0;
        job.soundStart = rel > 0 ? std::llround(rel * outRate) : 0;
        soundStarted_ = true;
    }
    job.work.start();
    jobs_.push_back(std::move(job));
    ++queuedSounds_;
    lock.unlock();
    changed_.notifyAll();
    return true;
}

void AssetWriter::finishWriting(std::function<void()> completion) {
    MutexLock lock(mutex_);
    if (status_ == Status::Unknown) {
        failLocked(Error{std::string(kAssetWriterErrorDomain), kAssetWriterErrorNotStarted,
                         "finishWriting called before startWriting"});
        lock.unlock();
        runLater(std::move(completion));
        return;
    }
    // The status is checked first: once cancelled, cancelWriting() may be joining worker_
    // outside the lock, so worker_ must not be read then.
    if (status_ == Status::Cancelled || status_ == Status::Completed || finishing_
        || !worker_.joinable()) {
        lock.unlock();
        runLater(std::move(completion));
        return;
    }
    finishing_ = true;
    if (pendingHead_ && lastPicturePts_ < 0) {
        Job head;
        head.picture = std::move(pendingHead_);
        head.duration = lastPictureInterval_;
        head.work.start();
        jobs_.push_back(std::move(head));
        ++queuedPictures_;
    }
    Job job;
    job.finish = true;
    job.completion = std::move(completion);
    job.keepAlive = shared_from_this();
    job.work.start();
    jobs_.push_back(std::move(job));
    lock.unlock();
    changed_.notifyAll();
}

void AssetWriter::cancelWriting() {
    std::vector<std::function<void()>> dropped;
    bool discard = false;
    {
        MutexLock lock(mutex_);
        if (status_ == Status::Completed || status_ == Status::Cancelled) {
            return;
        }
        discard = status_ == Status::Writing || status_ == Status::Failed;
        status_ = Status::Cancelled;
        cancelled_ = true;
        for (auto& job : jobs_) {
            if (job.completion) {
                dropped.push_back(std::move(job.completion));
            }
        }
        jobs_.clear();
        queuedPictures_ = 0;
        queuedSounds_ = 0;
    }
    changed_.notifyAll();
    stopThread();
    if (!worker_.joinable()) {
        encoder_.reset();
    }
    if (discard) {
        std::error_code ec;
        std::filesystem::remove(output_, ec);
    }
    for (auto& completion : dropped) {
        runLater(std::move(completion));
    }
}

void AssetWriter::run() {
    for (;;) {
        Job job;
        bool failed = false;
        {
            MutexLock lock(mutex_);
            while (!cancelled_ && jobs_.empty()) {
                changed_.wait(mutex_);
            }
            if (cancelled_) {
                break;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
            if (job.picture) {
                --queuedPictures_;
            } else if (job.sound) {
                --queuedSounds_;
            }
            failed = status_ != Status::Writing;
        }
        changed_.notifyAll();
        if (job.finish) {
            std::optional<Error> e;
            if (!failed) {
                e = encoder_->finish();
            }
            encoder_.reset();
            {
                MutexLock lock(mutex_);
                if (e) {
                    failLocked(*e);
                } else if (status_ == Status::Writing) {
                    status_ = Status::Completed;
                }
            }
            changed_.notifyAll();
            // The completion may release the last reference: nothing of `this` is used after it.
            auto completion = std::move(job.completion);
            if (completion) {
                completion();
            }
            return;
        }
        if (failed) {
            continue;
        }
        std::optional<Error> e;
        if (job.picture) {
            e = encoder_->encodeVideo(*job.picture, job.pts, job.duration);
        } else if (job.sound) {
            const auto& asbd = job.sound->formatDescription()->audioStreamBasicDescription();
            const int channels = static_cast<int>(asbd.channelsPerFrame);
            const auto frames = static_cast<int>(job.sound->numSamples());
            if (job.skipFrames < frames) {
                const auto* samples = reinterpret_cast<const int16_t*>(job.sound->data().data())
                                      + static_cast<std::ptrdiff_t>(job.skipFrames) * channels;
                e = encoder_->encodeAudio(samples, frames - job.skipFrames, channels,
                                          static_cast<int>(std::lround(asbd.sampleRate)),
                                          job.soundStart);
            }
        }
        if (e) {
            MutexLock lock(mutex_);
            failLocked(*e);
        }
    }
    encoder_.reset();
}

}  // namespace pelmar::av
