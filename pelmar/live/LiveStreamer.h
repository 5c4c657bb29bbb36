#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pelmar/live/FLVFrame.h"
#include "pelmar/live/FLVMuxer.h"
#include "pelmar/live/LiveStreamerDelegate.h"
#include "pelmar/live/RTMPClient.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

// LiveStreamer: publishes a live stream: muxes encoded H.264 frames and AAC packets into FLV tags
// and sends them to an RTMP server through its own RTMPClient.
// Ownership: made by create(), which connects, and held by shared_ptr; owns the RTMP client and
//     the FLV muxer; holds its delegate weakly, so the streamer goes when the host app lets it go.
// Threads: thread-safe; video and audio may come from different threads. The delegate is never
//     called under the streamer's locks and may stop or let go of the streamer from any method.
// Errors: create() logs the failure and returns null (the delegate is not told). Later failures
//     are logged and reach the delegate's onError with their text; the streamer carries on.
//
//   auto streamer = LiveStreamer::create("rtmp://host/live", "cam", delegate);
//   streamer->putVideoSample(sample);  // from H264EncoderDelegate; audio likewise
//   streamer->stop();

namespace pelmar::live {

namespace internal {
class StreamReporter;
}

class LiveStreamer {
public:
    // Connects to `targetAddress` (rtmp://host[:port]/app) and starts publishing `streamName`;
    // blocks for the connection set-up. Null on failure. `delegate` is in place before anything
    // can reach it (it may also be set later).
    static std::shared_ptr<LiveStreamer> create(const std::string& targetAddress,
                                                const std::string& streamName,
                                                std::weak_ptr<LiveStreamerDelegate> delegate = {},
                                                RTMPClient::Options options = {});

    // Clears the delegate, then closes the connection as stop() does, without telling anyone.
    ~LiveStreamer();

    LiveStreamer(const LiveStreamer&) = delete;
    LiveStreamer& operator=(const LiveStreamer&) = delete;

    // One encoded H.264 frame (as H264Encoder delivers it): 4-byte length-prefixed NAL units, its
    // presentation time, its key-frame flag and, for key frames, the SPS and PPS in its format
    // description. Frames before the first key frame are dropped; a key frame goes out with its
    // SPS and PPS in front. Stream times count from the first frame sent, audio and video alike;
    // the stream's metadata takes the picture size and frame rate of the first key frame (and
    // the audio settings of the first AudioSpecificConfig), whichever track starts first. The
    // first send may wait until the server confirms publishing.
    void putVideoSample(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer);

    // One raw AAC packet (as AACEncoder delivers it), the stream's AudioSpecificConfig and the
    // packet's time. The first call sends only the AudioSpecificConfig.
    void putAudioSample(std::span<const uint8_t> data,
                        std::span<const uint8_t> asc,
                        media::Time pts);

    // Ends publishing and drops the connection; onPublishStop reaches the delegate on this
    // thread. Samples put in afterwards are dropped. A second call does nothing.
    void stop();

    std::shared_ptr<LiveStreamerDelegate> delegate() const;

    void setDelegate(std::weak_ptr<LiveStreamerDelegate> delegate);

private:
    LiveStreamer();

    // The muxer's output: hands each FLV frame to the client, or drops it after stop().
    void sendFlvFrame(FLVFrame frame) PELMAR_REQUIRES(mutex_);

    // Puts `frame` into the muxer on `track`; failures are kept for reportErrors().
    void mux(const MediaFrame& frame, unsigned track) PELMAR_REQUIRES(mutex_);

    void fail(const std::string& message) PELMAR_REQUIRES(mutex_);

    void reportErrors(std::vector<std::string> errors);

    // Closes and lets go of `client`; never destroys it on its own receiver thread.
    void releaseClient(std::shared_ptr<RTMPClient> client) const;

    // Closes the client without mutex_, so that a sample waiting for publishing to start under
    // mutex_ stops waiting at once.
    void closeClientNow();

    // The client's callbacks refer to this small shared reporter, never to the streamer. Its own
    // lock guards only the delegate pointer.
    const std::shared_ptr<internal::StreamReporter> reporter_;
    // Held for the whole of putVideoSample and putAudioSample (sends included) and while stop()
    // takes the client away. stop() and the destructor first close the client through
    // closeMutex_ alone, which ends a send waiting for publishing at once, then take mutex_.
    // Failures met under mutex_ are reported after it is released, and the client is closed
    // (onPublishStop) outside it. From the receiver thread the client is closed there and a
    // short-lived thread of its own frees it once the receiver thread has ended.
    Mutex mutex_;
    std::shared_ptr<RTMPClient> client_ PELMAR_GUARDED_BY(mutex_);  // empty after stop()
    std::unique_ptr<FLVMuxer> muxer_ PELMAR_GUARDED_BY(mutex_);
    unsigned videoTrackId_ PELMAR_GUARDED_BY(mutex_) = 0;
    unsigned audioTrackId_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool firstVideoFrameSent_ PELMAR_GUARDED_BY(mutex_) = false;
    bool firstAudioFrameSent_ PELMAR_GUARDED_BY(mutex_) = false;
    std::vector<std::string> pendingErrors_ PELMAR_GUARDED_BY(mutex_);
    Mutex closeMutex_;
    std::weak_ptr<RTMPClient> closeTarget_
            PELMAR_GUARDED_BY(closeMutex_);  // the client, until stopped
    std::atomic<bool> stopping_{false};      // send failures after stop() are not reported
};

}  // namespace pelmar::live
