#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/photos/PhotosTypes.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::photos {

// A place a coordinate lies in.
struct Placemark {
    std::optional<std::string> locality;
};

// ReverseGeocoder: names the place of a coordinate from a table the host app or a test fills
// (there is no map service here): the entry nearest the coordinate within its radius answers.
// Ownership: value-like object; the table is process-wide (shared by every geocoder).
// Threads: thread-safe; completions run on the main queue, never inline.
// Errors: with a failure set (setFailure), every answer is that error and no placemark.
class ReverseGeocoder {
public:
    struct Entry {
        Location location;
        double radiusMeters = 1000;
        Placemark placemark;
    };

    static void setTable(std::vector<Entry> entries);
    static void setFailure(std::optional<Error> error);

    void reverseGeocodeLocation(Location location,
                                std::function<void(std::vector<Placemark> placemarks,
                                                   std::optional<Error> error)> completion) const;
};

}  // namespace pelmar::photos
