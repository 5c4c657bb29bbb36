#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/picker/Settings.h"
#include "pelmar/platform/photos/Asset.h"

namespace pelmar {

// Text in runs, each with its attributes.
struct AttributedText {
    std::vector<std::pair<std::string, TextAttributes>> runs;

    std::string string() const {
        std::string out;
        for (const auto& [text, attributes] : runs) {
            out += text;
        }
        return out;
    }
};

// "December 10, 2026" and "4:31 PM" (US English) in the process's time zone (TZ).
std::string formatLongDate(double secondsSince1970);
std::string formatShortTime(double secondsSince1970);

// PreviewTitleBuilder: the two-line title of a preview: the place (reverse-geocoded locality)
// above the date and time, or, without a place, the date above the time.
// Ownership: static functions.
// Threads: main thread; the completion runs at most once: at once for a date title without a
// place, on the main queue after geocoding otherwise, never when no title can be made.
// Errors: a failed or empty geocoding falls back to the date title.
class PreviewTitleBuilder {
public:
    static void titleFor(const photos::Asset& asset,
                         const std::shared_ptr<Settings::Theme>& theme,
                         std::function<void(AttributedText)> completion);

    static AttributedText titleFor(double date, const std::shared_ptr<Settings::Theme>& theme);
};

}  // namespace pelmar
