#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pelmar/platform/av/Asset.h"
#include "pelmar/platform/sync/Mutex.h"

// URLAsset: an asset read with libavformat from a local file (a path or a "file://" URL) or from
// an "http://" or "https://" URL (through its player item's byte cache, or FFmpeg's own protocols
// with the certificate and host name verified and only http(s) allowed, see LibavInput). Loading
// opens the source, probes it and describes every video, audio and subtitle stream as a track (a
// WebVTT file is one text track); nothing is decoded beyond what the probe needs. Ownership: made
// by create() and held by shared_ptr; it holds no file or connection open after
//     loading.
// Threads: thread-safe (see Asset).
// Errors: in kAssetErrorDomain: a missing file or an HTTP 404 is kAssetErrorNotFound; a file
//     without read permission, a refused connection, a time-out or another HTTP error is
//     kAssetErrorUnreadable; data libavformat cannot read, or a source without tracks, is
//     kAssetErrorUnparsable; an empty URL or another scheme is kAssetErrorBadURL.
// Limits: the probe reads at most kMaxProbeBytes; streams past kMaxTracks are ignored; a network
//     source that sends nothing for kNetworkTimeoutSeconds fails.

namespace pelmar::av {

namespace internal {
class ByteCache;
}

class URLAsset final : public Asset {
public:
    static constexpr int64_t kMaxProbeBytes = 5'000'000;
    static constexpr int kMaxTracks = 32;
    static constexpr double kNetworkTimeoutSeconds = 15;

    // `url`: a local path (relative to the working directory or absolute), a "file://" URL, or
    // an "http://" / "https://" URL. Nothing is read until the asset is loaded.
    static std::shared_ptr<URLAsset> create(std::string url);

    const std::string& url() const { return url_; }

    // True for http(s) sources.
    bool isRemote() const { return remote_; }

    // What libavformat opens: the decoded local path, or the URL as given; empty for an unusable
    // URL.
    const std::string& location() const { return location_; }

    // Has a remote asset that has not loaded yet read its bytes from `cache`, which the fetch of
    // the player item that holds it fills, instead of fetching them itself. The next load lets go
    // of it, and fetches for itself when that fetch was stopped before the load was done.
    void readThrough(std::shared_ptr<internal::ByteCache> cache);

protected:
    LoadResult load(const std::function<bool()>& cancelled) const override;

private:
    struct Key {};

public:
    URLAsset(Key, std::string url);

private:
    std::string url_;
    std::string location_;
    bool remote_ = false;
    mutable Mutex mutex_;
    mutable std::shared_ptr<internal::ByteCache> cache_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
