#pragma once

#include <functional>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::av::internal {

// LibavInput: opens a local path or an http(s) URL with libavformat for the asset layer: network
// time-outs, a bounded probe, a stop check polled while blocked, and the Error (kAssetErrorDomain)
// that explains a failure. A remote or cache-backed open speaks only kRemoteProtocols, verifies
// TLS certificates against the system's authorities and the host name, and lets the demuxer open
// further URLs (playlist segments) only over http(s), verified the same way.
// Ownership: the caller owns the returned demuxer; `stop` must outlive it.
// Threads: thread-compatible.
// Errors: see URLAsset.h for the codes.
struct LibavInput {
    // What a remote or cache-backed demuxer may open, also for the further URLs it names.
    static constexpr const char* kRemoteProtocols = "http,https,tls,tcp";

    // Opens and probes `location`. `stop` returning true makes blocked reads give up. With
    // `io`, the bytes come from it (it must outlive the demuxer) and `location` only names them.
    static libav::InputFormatPtr open(const std::string& location,
                                      bool remote,
                                      const std::function<bool()>* stop,
                                      std::optional<Error>& error,
                                      AVIOContext* io = nullptr);

    // The Error for an AVERROR code met while opening or reading `location`.
    static Error errorFor(int averr, const std::string& location);

    // Clockwise quarter turns (0..3) that show the stream's pictures upright, from its display
    // matrix (snapped to the nearest quarter turn; 0 without one).
    static int quarterTurns(const AVStream& stream);
};

}  // namespace pelmar::av::internal
