#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "pelmar/platform/av/AssetWriterError.h"
#include "pelmar/platform/av/AssetWriterInput.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

namespace internal {
class MovieEncoder;
}

// AssetWriter: writes an MPEG-4 or QuickTime movie (H.264 + AAC) from appended samples. Status
// moves Unknown -> Writing (startWriting) -> Completed (finishWriting) or Failed, or to Cancelled.
// Source times are measured from startSession's time: material before it is dropped (audio trimmed
// to the sample; the last picture before it opens the movie if it was still showing). Encoding runs
// on the writer's own thread behind bounded queues; finishWriting's completion runs on that thread
// (or on a background queue when there is nothing to finish). Ownership: made by create(), held by
// shared_ptr; owns its inputs and its thread. Destroying a
//     writer that is still writing cancels it. A completion may drop the last reference.
// Threads: thread-safe.
// Errors: create() fails (null, `error` set) when the folder of the file does not exist.
//     startWriting() fails (status Failed, error()) when the file exists or cannot be made.
//     finishWriting() before startWriting() fails with kAssetWriterErrorNotStarted. Errors are in
//     kAssetWriterErrorDomain.
// Limits: kMaxQueuedVideoFrames pictures and kMaxQueuedAudioBuffers sound buffers wait at most.
class AssetWriter : public std::enable_shared_from_this<AssetWriter> {
public:
    enum class Status : int { Unknown = 0, Writing = 1, Completed = 2, Failed = 3, Cancelled = 4 };

    // The container of the movie file; the tracks are the same in both.
    enum class FileType : int { MPEG4 = 0, QuickTimeMovie = 1 };

    static constexpr std::size_t kMaxQueuedVideoFrames = 8;
    static constexpr std::size_t kMaxQueuedAudioBuffers = 64;

    static std::shared_ptr<AssetWriter> create(std::filesystem::path outputURL,
                                               Error* error = nullptr);

    static std::shared_ptr<AssetWriter> create(std::filesystem::path outputURL,
                                               FileType fileType,
                                               Error* error = nullptr);

    FileType outputFileType() const { return fileType_; }

    ~AssetWriter();

    AssetWriter(const AssetWriter&) = delete;
    AssetWriter& operator=(const AssetWriter&) = delete;

    const std::filesystem::path& outputURL() const { return output_; }

    Status status() const;

    std::optional<Error> error() const;

    // Before startWriting only; one input per media type; an input belongs to one writer.
    bool canAddInput(const std::shared_ptr<AssetWriterInput>& input) const;

    void addInput(const std::shared_ptr<AssetWriterInput>& input);

    // Returns whether the writer is now writing.
    bool startWriting();

    // The source time that becomes time 0 of the movie. Once only; appends wait for it.
    void startSession(media::Time sourceTime);

    void finishWriting(std::function<void()> completion);

    // Stops at once, discards the file and waits for the writer's thread.
    void cancelWriting();

    // Test hook: the `count`-th append from now fails the writer (0 turns it off).
    void failAfterAppends(int count);

    // Test hook for writers made inside other components: every writer created from now on
    // fails at its `count`-th append (0 turns it off).
    static void failWritersAfterAppends(int count);

    // Jobs (samples, finishing) queued to or being worked on by the encoders of every writer in
    // the process; 0 when all of them are idle. Tests wait for 0 before moving a manual clock,
    // since encoding takes no clock time.
    static std::size_t pendingWorkInAllWriters();

private:
    friend class AssetWriterInput;
    friend class AssetWriterInputPixelBufferAdaptor;

    // Counts a job in pendingWorkInAllWriters() from its making to its destruction.
    struct WorkCount {
        WorkCount() = default;
        ~WorkCount();
        WorkCount(WorkCount&& other) noexcept;
        WorkCount& operator=(WorkCount&& other) noexcept;
        // Called as the job is queued.
        void start();
        bool counted = false;
    };

    struct Job {
        WorkCount work;
        bool finish = false;
        std::shared_ptr<media::PixelBuffer> picture;
        int64_t pts = 0;
        int64_t duration = 0;
        std::shared_ptr<const media::SampleBuffer> sound;
        int skipFrames = 0;
        std::optional<int64_t> soundStart;
        std::function<void()> completion;
        std::shared_ptr<AssetWriter> keepAlive;  // a finishing writer lives until it is done
    };

    explicit AssetWriter(std::filesystem::path output);

    bool isReady(MediaType media, bool forcedNotReady) const;
    bool appendPicture(std::shared_ptr<media::PixelBuffer> picture,
                       media::Time pts,
                       media::Time duration);
    bool appendSound(const std::shared_ptr<const media::SampleBuffer>& sound);
    // Counts an append against the injected failure; true when it must fail.
    bool injectedFailureLocked() PELMAR_REQUIRES(mutex_);
    void failLocked(Error error) PELMAR_REQUIRES(mutex_);
    void run();
    void stopThread();

    const std::filesystem::path output_;
    FileType fileType_ = FileType::MPEG4;
    mutable Mutex mutex_;
    mutable CondVar changed_;
    Status status_ PELMAR_GUARDED_BY(mutex_) = Status::Unknown;
    std::optional<Error> error_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<AssetWriterInput>> inputs_ PELMAR_GUARDED_BY(mutex_);
    std::optional<media::Time> sessionStart_ PELMAR_GUARDED_BY(mutex_);
    std::deque<Job> jobs_ PELMAR_GUARDED_BY(mutex_);
    std::size_t queuedPictures_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::size_t queuedSounds_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool finishing_ PELMAR_GUARDED_BY(mutex_) = false;
    bool cancelled_ PELMAR_GUARDED_BY(mutex_) = false;
    int failCountdown_ PELMAR_GUARDED_BY(mutex_) = 0;
    media::Time lastPicture_ PELMAR_GUARDED_BY(mutex_);
    int64_t lastPicturePts_ PELMAR_GUARDED_BY(mutex_) = -1;
    int64_t lastPictureInterval_ PELMAR_GUARDED_BY(mutex_) = 3000;
    std::shared_ptr<media::PixelBuffer> pendingHead_ PELMAR_GUARDED_BY(mutex_);
    bool soundStarted_ PELMAR_GUARDED_BY(mutex_) = false;
    std::unique_ptr<internal::MovieEncoder> encoder_;  // the worker's once it runs
    std::thread worker_;
};

}  // namespace pelmar::av
