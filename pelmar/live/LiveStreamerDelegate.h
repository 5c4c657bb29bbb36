#pragma once

#include <string>

// LiveStreamerDelegate: what a LiveStreamer tells the host app: errors, and the start and end of
// publishing. Each method does nothing unless overridden.
// Ownership: held weakly by the streamer; a delegate that is gone gets nothing.
// Threads: onPublishStart and the server's errors arrive on the RTMP receiver thread; errors of
//          samples and sends on the thread that put the sample; onPublishStop on the thread that
//          calls stop(). The streamer holds none of its locks while it calls, so a delegate may
//          call back into it.
// Errors: none.

namespace pelmar::live {

class LiveStreamerDelegate {
public:
    virtual ~LiveStreamerDelegate() = default;

    virtual void onError(const std::string& /*message*/) {}

    virtual void onPublishStart() {}

    virtual void onPublishStop() {}
};

}  // namespace pelmar::live
