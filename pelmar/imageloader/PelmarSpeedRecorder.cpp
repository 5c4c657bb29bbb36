#include "pelmar/imageloader/PelmarSpeedRecorder.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "pelmar/platform/net/URLOrigin.h"

namespace pelmar {
namespace {

constexpr double kOldWeight = 0.8;

// True while /proc/net/route lists a default route (destination 0.0.0.0) on an interface that
// is up.
bool hasDefaultRoute() {
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);  // column titles
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string interface, destination, gateway;
        unsigned flags = 0;
        fields >> interface >> destination >> gateway >> std::hex >> flags;
        if (destination == "00000000" && (flags & 0x1) != 0) {  // RTF_UP
            return true;
        }
    }
    return false;
}

}  // namespace

std::shared_ptr<PelmarSpeedRecorder> PelmarSpeedRecorder::sharedRecorder() {
    // Never destroyed: metrics of transfers still under way at exit arrive on the sessions'
    // queues after static destruction has begun.
    static auto* recorder =
            new std::shared_ptr<PelmarSpeedRecorder>(std::make_shared<PelmarSpeedRecorder>());
    return *recorder;
}

PelmarSpeedRecorder::PelmarSpeedRecorder(ReachabilityProvider reachability)
    : reachability_(std::move(reachability)) {
    if (!reachability_) {
        reachability_ = [] {
            return std::optional<uint32_t>(hasDefaultRoute() ? kPelmarReachabilityReachable : 0);
        };
    }
}

void PelmarSpeedRecorder::setReachabilityProvider(ReachabilityProvider reachability) {
    PelmarRemoteLock::Hold hold(lock_);
    reachability_ = std::move(reachability);
}

void PelmarSpeedRecorder::processMetrics(const net::URLSessionTaskMetrics& metrics,
                                         const net::URLSessionTask& task) {
    processMetrics(metrics, task.countOfBytesReceived(), task.currentRequest().url);
}

void PelmarSpeedRecorder::processMetrics(const net::URLSessionTaskMetrics& metrics,
                                         int64_t bytesReceived,
                                         const std::string& url) {
    std::optional<double> start, firstByte, end;
    for (const auto& transaction : metrics.transactionMetrics) {
        if (!transaction.requestStartDate || !transaction.responseStartDate) {
            return;
        }
        start = std::min(start.value_or(*transaction.requestStartDate),
                         *transaction.requestStartDate);
        firstByte = std::min(firstByte.value_or(*transaction.responseStartDate),
                             *transaction.responseStartDate);
        if (transaction.responseEndDate) {
            end = std::max(end.value_or(*transaction.responseEndDate),
                           *transaction.responseEndDate);
        }
    }
    if (!start || !firstByte || !end || bytesReceived <= 0) {
        return;
    }
    const auto host = net::urlHost(url);
    if (!host) {
        return;
    }
    const auto bytes = static_cast<double>(bytesReceived);
    updateSpeedsForHost(*host, bytes / std::max(*end - *start, kMinimumDuration),
                        bytes / std::max(*end - *firstByte, kMinimumDuration),
                        std::max(*firstByte - *start, 0.0));
}

void PelmarSpeedRecorder::updateSpeedsForHost(const std::string& host,
                                              double bytesPerSecond,
                                              double startAdjustedBytesPerSecond,
                                              double timeToFirstByte) {
    PelmarRemoteLock::Hold hold(lock_);
    const auto it = speedMeasurements_.find(host);
    if (it == speedMeasurements_.end()) {
        recent_.push_front(host);
        speedMeasurements_[host] =
                Entry{{static_cast<float>(bytesPerSecond),
                       static_cast<float>(startAdjustedBytesPerSecond), 0, timeToFirstByte},
                      recent_.begin()};
        if (speedMeasurements_.size() > kMaxHosts) {
            speedMeasurements_.erase(recent_.back());
            recent_.pop_back();
        }
        return;
    }
    auto& m = it->second.measurement;
    const auto blend = [](double old, double added) {
        return old * kOldWeight + added * (1 - kOldWeight);
    };
    m.count += 1;
    m.bytesPerSecond = static_cast<float>(blend(m.bytesPerSecond, bytesPerSecond));
    m.startAdjustedBytesPerSecond =
            static_cast<float>(blend(m.startAdjustedBytesPerSecond, startAdjustedBytesPerSecond));
    m.timeToFirstByte = blend(m.timeToFirstByte, timeToFirstByte);
    recent_.splice(recent_.begin(), recent_, it->second.place);
}

std::optional<PelmarSpeedMeasurement> PelmarSpeedRecorder::measurementForHost(
        const std::string& host) {
    PelmarRemoteLock::Hold hold(lock_);
    const auto it = speedMeasurements_.find(host);
    if (it == speedMeasurements_.end()) {
        return std::nullopt;
    }
    recent_.splice(recent_.begin(), recent_, it->second.place);
    return it->second.measurement;
}

float PelmarSpeedRecorder::weightedAdjustedBytesPerSecondForHost(const std::string& host) {
    const auto measurement = measurementForHost(host);
    return measurement ? measurement->startAdjustedBytesPerSecond : -1.0f;
}

double PelmarSpeedRecorder::weightedTimeToFirstByteForHost(const std::string& host) {
    const auto measurement = measurementForHost(host);
    return measurement ? measurement->timeToFirstByte : 0.0;
}

void PelmarSpeedRecorder::resetMeasurements() {
    PelmarRemoteLock::Hold hold(lock_);
    speedMeasurements_.clear();
    recent_.clear();
}

unsigned PelmarSpeedRecorder::connectionStatus() {
    ReachabilityProvider reachability;
    {
        PelmarRemoteLock::Hold hold(lock_);
        reachability = reachability_;
    }
    const auto flags = reachability ? reachability() : std::nullopt;
    return flags ? networkStatusForFlags(*flags) : 0;
}

unsigned PelmarSpeedRecorder::networkStatusForFlags(uint32_t flags) {
    if ((flags & kPelmarReachabilityReachable) == 0) {
        return 0;
    }
    if ((flags & kPelmarReachabilityConnectionRequired) == 0) {
        return 2;
    }
    const bool automatic =
            (flags
             & (kPelmarReachabilityConnectionOnTraffic | kPelmarReachabilityConnectionOnDemand))
            != 0;
    if (automatic && (flags & kPelmarReachabilityInterventionRequired) == 0) {
        return 2;
    }
    return 0;
}

unsigned PelmarSpeedRecorder::appropriateImageIdxForURLsGivenHistoricalNetworkConditions(
        const std::vector<std::string>& urls,
        float lowQualityQPSThreshold,
        float highQualityQPSThreshold) {
    const std::size_t urlCount = urls.size();
    if (urlCount <= 1) {
        return 0;
    }
    const auto last = static_cast<unsigned>(urlCount - 1);
    const float speed = weightedAdjustedBytesPerSecondForHost(net::urlHost(urls[0]).value_or(""));
    if (speed == -1.0f) {
        return connectionStatus() == 2 ? last : 0;
    }
    if (speed >= highQualityQPSThreshold) {
        return last;
    }
    if (speed <= lowQualityQPSThreshold) {
        return 0;
    }
    const float span = highQualityQPSThreshold - lowQualityQPSThreshold;
    const float position = speed - lowQualityQPSThreshold;
    const float index = urlCount == 2
                                ? std::round(position / (span / static_cast<float>(urlCount - 1)))
                                : std::ceil(position / (span / static_cast<float>(urlCount - 2)));
    return std::min(last, static_cast<unsigned>(std::max(index, 0.0f)));
}

}  // namespace pelmar
