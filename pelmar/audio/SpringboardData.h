#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pelmar/platform/foundation/Json.h"

namespace pelmar {

// SpringboardData: the lock screen's now-playing information: a dictionary of what plays (its
// keys below), turned into the platform's now-playing entries, and the elapsed time written into
// information that already exists.
// Ownership: no state; static operations over the platform's now-playing centre.
// Threads: thread-safe; the artwork is read on a background queue and stored on the main queue.
// Errors: none: a missing or non-string value counts as "", a missing duration as 0, and an image
//     that cannot be read leaves the artwork unset.
class SpringboardData {
public:
    static constexpr std::string_view kTitleKey = "TitleKey";
    static constexpr std::string_view kAuthorKey = "AuthorKey";
    static constexpr std::string_view kDurationKey = "DurationKey";
    static constexpr std::string_view kListScreenTitle = "ListScreenTitle";
    static constexpr std::string_view kImagePath = "ImagePath";

    static Json springboardDictionary(const std::string& title,
                                      const std::string& artist,
                                      int64_t duration,
                                      const std::string& listScreenTitle,
                                      const std::string& imagePath);

    // Replaces the now-playing information with the title, artist, duration and list title of
    // `infoDictionary`, then loads its image as the artwork.
    static void setupLockScreenElementsWithDictionary(const Json& infoDictionary);

    // Sets the elapsed time (seconds) of the now-playing information, when there is one.
    static void updateLockScreenCurrentTime(double currentTime);

private:
    static void updateLockScreenImage(const std::string& imagePath);
};

}  // namespace pelmar
