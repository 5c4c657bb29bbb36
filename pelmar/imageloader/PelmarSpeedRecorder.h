#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteLock.h"
#include "pelmar/platform/net/URLSessionTask.h"
#include "pelmar/platform/net/URLSessionTaskMetrics.h"

namespace pelmar {

// Reachability flags of the default route.
inline constexpr uint32_t kPelmarReachabilityReachable = 2;
inline constexpr uint32_t kPelmarReachabilityConnectionRequired = 4;
inline constexpr uint32_t kPelmarReachabilityConnectionOnTraffic = 8;
inline constexpr uint32_t kPelmarReachabilityInterventionRequired = 16;
inline constexpr uint32_t kPelmarReachabilityConnectionOnDemand = 32;

struct PelmarSpeedMeasurement {
    float bytesPerSecond = 0;
    float startAdjustedBytesPerSecond = 0;  // from the first byte on
    uint64_t count = 0;                     // 0 for the first sample
    double timeToFirstByte = 0;             // seconds
};

// PelmarSpeedRecorder: per host, a running average (each new sample weighs 0.2) of the download
// speed and the time to the first byte, taken from finished transfers; used to judge whether a
// download is nearly done and which of several image URLs to load. At most kMaxHosts hosts are
// kept, the least recently used going first.
// Ownership: held by shared_ptr by every session manager, image manager and download that
//     records into it or reads it, since their events may still arrive after their owner let go
//     of them; sharedRecorder() lives for the process, tests may make their own.
// Threads: thread-safe; every measurement is read and written under the recorder's lock, a leaf.
// Errors: none; transfers with missing times or no bytes leave the measurements alone.
class PelmarSpeedRecorder {
public:
    static constexpr std::size_t kMaxHosts = 25;
    // Durations are counted as at least this long, so that a body that arrived in one read (equal
    // times, common on a fast network) gives a large but finite speed.
    static constexpr double kMinimumDuration = 0.001;

    // Flags of the default route, or nothing when they cannot be read.
    using ReachabilityProvider = std::function<std::optional<uint32_t>()>;

    static std::shared_ptr<PelmarSpeedRecorder> sharedRecorder();

    // The default provider reports the reachable flag while the system has a default route.
    explicit PelmarSpeedRecorder(ReachabilityProvider reachability = {});

    void processMetrics(const net::URLSessionTaskMetrics& metrics, const net::URLSessionTask& task);

    // Bytes and the times of one transfer, for the host of `url`.
    void processMetrics(const net::URLSessionTaskMetrics& metrics,
                        int64_t bytesReceived,
                        const std::string& url);

    void updateSpeedsForHost(const std::string& host,
                             double bytesPerSecond,
                             double startAdjustedBytesPerSecond,
                             double timeToFirstByte);

    // -1 when the host has no measurement.
    float weightedAdjustedBytesPerSecondForHost(const std::string& host);

    // 0 when the host has no measurement.
    double weightedTimeToFirstByteForHost(const std::string& host);

    std::optional<PelmarSpeedMeasurement> measurementForHost(const std::string& host);

    void resetMeasurements();

    // 0 when the flags cannot be read, else networkStatusForFlags(flags).
    unsigned connectionStatus();

    // 2 when reachable without a connection to set up, or with one set up automatically (on
    // traffic or on demand) and no intervention; else 0.
    static unsigned networkStatusForFlags(uint32_t flags);

    // Index of the URL to load among `urls` ordered from lowest to highest quality, from the
    // speed known for the host of the first URL and two thresholds in bytes per second.
    unsigned appropriateImageIdxForURLsGivenHistoricalNetworkConditions(
            const std::vector<std::string>& urls,
            float lowQualityQPSThreshold,
            float highQualityQPSThreshold);

    void setReachabilityProvider(ReachabilityProvider reachability);

private:
    PelmarRemoteLock lock_{"PelmarSpeedRecorder lock"};
    ReachabilityProvider reachability_ PELMAR_GUARDED_BY(lock_);
    std::list<std::string> recent_ PELMAR_GUARDED_BY(lock_);  // front is newest

    struct Entry {
        PelmarSpeedMeasurement measurement;
        std::list<std::string>::iterator place;
    };

    std::unordered_map<std::string, Entry> speedMeasurements_ PELMAR_GUARDED_BY(lock_);
};

}  // namespace pelmar
