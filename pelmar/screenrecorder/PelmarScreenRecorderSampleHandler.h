#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/AssetWriterInput.h"
#include "pelmar/platform/av/AssetWriterInputPixelBufferAdaptor.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/replaykit/BroadcastSampleHandler.h"

namespace pelmar {

// PelmarScreenRecorderSampleHandler: the sample handler of the host app's broadcast extension.
// It writes the screen (H.264 at the main screen's size in points, rounded down to even) and the
// microphone (AAC, 44.1 kHz stereo) into a UUID-named QuickTime movie in the temporary folder,
// starting the movie's time line at the first picture, which itself is not written; app sound is
// not recorded. When the broadcast finishes, the movie is moved into the app group's
// screen-recording folder (Utils::getSharedScreenRecordingDirectory of getApplicationGroup()),
// where the app's intake picks it up, and kBroadcastFinishedNotification is posted on the default
// notification centre with a `const Json` object {"url": the movie's temporary path}. Progress
// goes to the console.
// Ownership: made and held by the broadcast host; a subclass names the app group. The writer's
//     completion holds only shared hand-over state, never the handler.
// Threads: thread-compatible (the host calls one operation at a time); the finish completion
//     runs on the writer's thread.
// Errors: none reported: failures are console lines. Without a writer, or before the first
//     picture, samples are dropped and finishing only prints its error line. A video input still
//     busy with the pictures fed before the finish is waited for (kInputReadyTimeoutSeconds at
//     most); one that never takes more data gets the same error line and the movie is not
//     finished. A movie that cannot be moved stays in the temporary folder and nothing is posted.
class PelmarScreenRecorderSampleHandler : public replaykit::BroadcastSampleHandler {
public:
    static constexpr std::string_view kBroadcastFinishedNotification = "broadcastFinished";

    // How long broadcastFinished() waits for the movie to be handed over (real seconds).
    static constexpr double kHandOverTimeoutSeconds = 60;

    // How long broadcastFinished() waits for a busy video input to take more data (real seconds).
    static constexpr double kInputReadyTimeoutSeconds = 10;

    PelmarScreenRecorderSampleHandler();

    ~PelmarScreenRecorderSampleHandler() override;

    // The app group of the shared folder; "" here (the movie then stays in the temporary
    // folder). The host app's extension overrides it with the group it gives the facade.
    virtual std::string getApplicationGroup();

    // Prepares a new movie; `setupInfo` is ignored.
    void broadcastStarted(const std::optional<Json>& setupInfo) override;

    void broadcastPaused() override {}

    void broadcastResumed() override {}

    // Routes pictures and microphone sound; app sound is dropped. Any other type is a program
    // error: "Unknown type of sample buffer" is printed and the process aborts.
    void processSampleBuffer(const std::shared_ptr<const media::SampleBuffer>& sample,
                             replaykit::SampleBufferType type) override;

    // Finishes the movie and returns once it has been handed over (moved, or left in the
    // temporary folder when there is no shared folder), or after kHandOverTimeoutSeconds.
    void broadcastFinished() override;

    // The movie being written, once started.
    const std::optional<std::filesystem::path>& videoOutputFullFileName() const {
        return videoOutputFullFileName_;
    }

    // True from the start of the writer's session until the movie has been handed over.
    bool isRecordingVideo() const;

protected:
    virtual void captureOutput(const std::shared_ptr<const media::SampleBuffer>& sample);

    virtual void captureAudioOutput(const std::shared_ptr<const media::SampleBuffer>& sample);

private:
    struct HandOver;

    const std::shared_ptr<HandOver> handOver_;
    std::optional<std::filesystem::path> videoOutputFullFileName_;
    std::shared_ptr<av::AssetWriterInput> videoWriterInput_;
    // Kept as the broadcast's picture path; pictures go through the video input itself.
    std::shared_ptr<av::AssetWriterInputPixelBufferAdaptor> adapter_;
    std::shared_ptr<av::AssetWriterInput> audioWriterInput_;
    std::shared_ptr<av::AssetWriter> videoWriter_;
};

}  // namespace pelmar
