#include "pelmar/screenrecorder/PelmarScreenRecorderSampleHandler.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "pelmar/core/Utils.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Screen.h"

namespace pelmar {

using foundation::Console;

// What the writer's completion shares with the handler: the recording flag and whether the
// hand-over is done, so the handler may wait for it and may even be gone when it ends.
struct PelmarScreenRecorderSampleHandler::HandOver {
    std::atomic<bool> isRecordingVideo{false};
    Mutex mutex;
    CondVar changed;
    bool done PELMAR_GUARDED_BY(mutex) = false;

    void finish() {
        {
            MutexLock lock(mutex);
            done = true;
        }
        changed.notifyAll();
    }
};

namespace {

std::string newUUIDString() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    uint64_t high = generator();
    uint64_t low = generator();
    high = (high & 0xFFFFFFFFFFFF0FFFULL) | 0x0000000000004000ULL;  // version 4
    low = (low & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;    // variant 1
    char text[37];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return text;
}

const char* boolText(bool value) {
    return value ? "true" : "false";
}

// A writing real-time input is busy while the writer's queue for it is full, and the writer's
// thread drains that queue: wait, for at most `timeoutSeconds` of real time, until it takes more
// data. An input of a writer that is not writing never becomes ready and is not waited for.
bool waitUntilReady(const av::AssetWriterInput& input,
                    const av::AssetWriter& writer,
                    double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(timeoutSeconds));
    while (!input.isReadyForMoreMediaData()) {
        if (writer.status() != av::AssetWriter::Status::Writing
            || std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        // The input offers no notice when room is made: look again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace

PelmarScreenRecorderSampleHandler::PelmarScreenRecorderSampleHandler()
    : handOver_(std::make_shared<HandOver>()) {}

PelmarScreenRecorderSampleHandler::~PelmarScreenRecorderSampleHandler() = default;

std::string PelmarScreenRecorderSampleHandler::getApplicationGroup() {
    return "";
}

bool PelmarScreenRecorderSampleHandler::isRecordingVideo() const {
    return handOver_->isRecordingVideo.load();
}

void PelmarScreenRecorderSampleHandler::broadcastStarted(const std::optional<Json>& /*setupInfo*/) {
    const auto temporary = foundation::Sandbox::temporaryDirectory();
    std::error_code ec;
    const bool exists = std::filesystem::exists(temporary, ec);
    const bool isDirectory = std::filesystem::is_directory(temporary, ec);
    Console::print(std::string("Directory exists: ") + boolText(exists)
                   + ", is directory: " + boolText(isDirectory));

    videoOutputFullFileName_ = temporary / (newUUIDString() + ".mov");
    Console::print("Video file name: " + videoOutputFullFileName_->string());
    Console::print("Starting screen capture...");

    const auto bounds = ui::Screen::main().bounds();
    const av::VideoSettings video{static_cast<int>(bounds.width), static_cast<int>(bounds.height)};
    const av::AudioSettings audio{2, 44100, 128000};

    std::filesystem::remove(*videoOutputFullFileName_, ec);
    videoWriter_ = av::AssetWriter::create(*videoOutputFullFileName_,
                                           av::AssetWriter::FileType::QuickTimeMovie);
    if (!videoWriter_) {
        Console::print("Failed to initialize videoWriter");
        return;
    }
    videoWriterInput_ = av::AssetWriterInput::createVideo(video);
    videoWriterInput_->setExpectsMediaDataInRealTime(true);
    videoWriter_->addInput(videoWriterInput_);
    audioWriterInput_ = av::AssetWriterInput::createAudio(audio);
    audioWriterInput_->setExpectsMediaDataInRealTime(true);
    if (videoWriter_->canAddInput(audioWriterInput_)) {
        videoWriter_->addInput(audioWriterInput_);
    }
    adapter_ = av::AssetWriterInputPixelBufferAdaptor::create(videoWriterInput_,
                                                              media::PixelFormat::ARGB32);
}

void PelmarScreenRecorderSampleHandler::processSampleBuffer(
        const std::shared_ptr<const media::SampleBuffer>& sample,
        replaykit::SampleBufferType type) {
    switch (type) {
        case replaykit::SampleBufferType::Video:
            captureOutput(sample);
            return;
        case replaykit::SampleBufferType::AudioMic:
            captureAudioOutput(sample);
            return;
        case replaykit::SampleBufferType::AudioApp:
            return;
    }
    Console::print("Unknown type of sample buffer");
    std::abort();
}

void PelmarScreenRecorderSampleHandler::captureOutput(
        const std::shared_ptr<const media::SampleBuffer>& sample) {
    if (!videoWriter_ || !sample) {
        return;  // no movie to write into
    }
    switch (videoWriter_->status()) {
        case av::AssetWriter::Status::Unknown:
            Console::print("videoWriter.startWriting()...");
            if (!videoWriter_->startWriting()) {
                Console::print("Failed to start writing");
                return;
            }
            Console::print("videoWriter.startWriting() SUCCESS");
            // The first picture only fixes where the movie's time line starts.
            videoWriter_->startSession(sample->presentationTimeStamp());
            Console::print("videoWriter.startSession() success");
            handOver_->isRecordingVideo.store(true);
            return;
        case av::AssetWriter::Status::Failed:
            return;
        default:
            break;
    }
    Console::print("Capturing sample buffer");
    if (videoWriterInput_ && videoWriterInput_->isReadyForMoreMediaData()) {
        if (videoWriterInput_->append(sample)) {
            Console::print("Capture success");
        }
    }
}

void PelmarScreenRecorderSampleHandler::captureAudioOutput(
        const std::shared_ptr<const media::SampleBuffer>& sample) {
    if (audioWriterInput_ && audioWriterInput_->isReadyForMoreMediaData()) {
        audioWriterInput_->append(sample);
    }
}

void PelmarScreenRecorderSampleHandler::broadcastFinished() {
    Console::print("Finishing capture");
    const auto status = videoWriter_ ? static_cast<int>(videoWriter_->status()) : -1;
    Console::print("videoWriter.status: " + std::to_string(status));
    // Pictures fed faster than the encoder takes them may still fill the queue: a momentarily
    // busy input must not cost the whole recording.
    if (!videoWriterInput_ || !videoWriter_
        || !waitUntilReady(*videoWriterInput_, *videoWriter_, kInputReadyTimeoutSeconds)) {
        Console::print("Error: videoWriterInput?.isReadyForMoreMediaData == false");
        return;
    }
    if (videoWriter_->status() == av::AssetWriter::Status::Failed) {
        Console::print("Error: videoWriter!.status == .failed");
        return;
    }
    if (audioWriterInput_ && audioWriterInput_->isReadyForMoreMediaData()) {
        audioWriterInput_->markAsFinished();
    }
    Console::print("videoWriterInput?.markAsFinished()...");
    videoWriterInput_->markAsFinished();

    // The completion runs on the writer's thread and may outlive this handler: it takes what it
    // needs by value.
    const std::string appGroup = getApplicationGroup();
    {
        MutexLock lock(handOver_->mutex);
        handOver_->done = false;
    }
    Console::print("videoWriter?.finishWriting()...");
    videoWriter_->finishWriting([handOver = handOver_, movie = videoOutputFullFileName_, appGroup] {
        Console::print("videoWriter?.finishWriting() DONE!");
        Console::print("Output file size: " + std::to_string(movie ? Utils::fileSize(*movie) : -1));
        const auto folder = Utils::getSharedScreenRecordingDirectory(appGroup);
        if (!folder) {
            Console::print("Failed to get screen recording directory");
        } else if (movie && Utils::moveFile(*movie, *folder)) {
            handOver->isRecordingVideo.store(false);
            // The dictionary is the notification's object, not its user info.
            auto object = std::make_shared<const Json>(
                    Json{{"url", foundation::fileURLFromPath(*movie)}});
            foundation::NotificationCenter::defaultCenter().post(kBroadcastFinishedNotification,
                                                                 object);
        }
        // A failed move has printed its own line; the movie stays where it was.
        handOver->isRecordingVideo.store(false);
        handOver->finish();
    });
    Console::print("videoWriter.status: "
                   + std::to_string(static_cast<int>(videoWriter_->status())));
    Console::print("OK. finishWriting() is now continue running asynchronously...");

    // Returning ends the extension: wait until the movie has been handed over, not merely until
    // the writer has closed the file.
    MutexLock lock(handOver_->mutex);
    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::duration<double>(kHandOverTimeoutSeconds);
    while (!handOver_->done) {
        if (!handOver_->changed.waitUntil(handOver_->mutex, deadline)) {
            break;
        }
    }
}

}  // namespace pelmar
