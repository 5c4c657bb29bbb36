#include "pelmar/platform/photos/ReverseGeocoder.h"

#include <cmath>
#include <numbers>

#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar::photos {

namespace {

struct Table {
    Mutex mutex;
    std::vector<ReverseGeocoder::Entry> entries PELMAR_GUARDED_BY(mutex);
    std::optional<Error> failure PELMAR_GUARDED_BY(mutex);
};

Table& table() {
    static Table* t = new Table();
    return *t;
}

double metersBetween(Location a, Location b) {
    constexpr double kEarthRadius = 6371000;
    const double toRadians = std::numbers::pi / 180;
    const double dLat = (b.latitude - a.latitude) * toRadians;
    const double dLon = (b.longitude - a.longitude) * toRadians;
    const double h = std::sin(dLat / 2) * std::sin(dLat / 2)
                     + std::cos(a.latitude * toRadians) * std::cos(b.latitude * toRadians)
                               * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

}  // namespace

void ReverseGeocoder::setTable(std::vector<Entry> entries) {
    auto& t = table();
    MutexLock lock(t.mutex);
    t.entries = std::move(entries);
}

void ReverseGeocoder::setFailure(std::optional<Error> error) {
    auto& t = table();
    MutexLock lock(t.mutex);
    t.failure = std::move(error);
}

void ReverseGeocoder::reverseGeocodeLocation(
        Location location,
        std::function<void(std::vector<Placemark>, std::optional<Error>)> completion) const {
    std::vector<Placemark> found;
    std::optional<Error> error;
    {
        auto& t = table();
        MutexLock lock(t.mutex);
        error = t.failure;
        const Entry* best = nullptr;
        double bestDistance = 0;
        for (const auto& entry : t.entries) {
            const double d = metersBetween(location, entry.location);
            if (d <= entry.radiusMeters && (!best || d < bestDistance)) {
                best = &entry;
                bestDistance = d;
            }
        }
        if (best && !error) {
            found.push_back(best->placemark);
        }
    }
    dispatch::Queue::main()->async([completion = std::move(completion), found, error] {
        if (completion) {
            completion(found, error);
        }
    });
}

}  // namespace pelmar::photos
