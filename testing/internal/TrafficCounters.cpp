#include "testing/internal/TrafficCounters.h"

namespace pelmar::test::internal {

TrafficCounters::UploadInFlight::UploadInFlight(TrafficCounters& counters) : counters_(counters) {
    const size_t count = ++counters_.uploadsInFlight_;
    size_t seen = counters_.maxUploadsInFlight_.load();
    while (count > seen && !counters_.maxUploadsInFlight_.compare_exchange_weak(seen, count)) {
    }
}

TrafficCounters::UploadInFlight::~UploadInFlight() {
    --counters_.uploadsInFlight_;
}

}  // namespace pelmar::test::internal
