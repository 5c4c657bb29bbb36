#include "pelmar/picker/PreviewTitleBuilder.h"

#include <ctime>

#include "pelmar/platform/photos/ReverseGeocoder.h"

namespace pelmar {

namespace {

std::tm localTime(double secondsSince1970) {
    const std::time_t t = static_cast<std::time_t>(secondsSince1970);
    std::tm parts{};
    localtime_r(&t, &parts);
    return parts;
}

}  // namespace

std::string formatLongDate(double secondsSince1970) {
    static const char* const kMonths[] = {"January",   "February", "March",    "April",
                                          "May",       "June",     "July",     "August",
                                          "September", "October",  "November", "December"};
    const std::tm parts = localTime(secondsSince1970);
    return std::string(kMonths[parts.tm_mon]) + " " + std::to_string(parts.tm_mday) + ", "
           + std::to_string(parts.tm_year + 1900);
}

std::string formatShortTime(double secondsSince1970) {
    const std::tm parts = localTime(secondsSince1970);
    const int hour = parts.tm_hour % 12 == 0 ? 12 : parts.tm_hour % 12;
    char minutes[3];
    std::snprintf(minutes, sizeof minutes, "%02d", parts.tm_min);
    return std::to_string(hour) + ":" + minutes + (parts.tm_hour < 12 ? " AM" : " PM");
}

AttributedText PreviewTitleBuilder::titleFor(double date,
                                             const std::shared_ptr<Settings::Theme>& theme) {
    AttributedText text;
    text.runs.emplace_back(formatLongDate(date), theme->previewTitleAttributes());
    text.runs.emplace_back("\n" + formatShortTime(date), theme->previewSubtitleAttributes());
    return text;
}

void PreviewTitleBuilder::titleFor(const photos::Asset& asset,
                                   const std::shared_ptr<Settings::Theme>& theme,
                                   std::function<void(AttributedText)> completion) {
    const auto date = asset.creationDate();
    const auto location = asset.location();
    if (!location) {
        if (date && completion) {
            completion(titleFor(*date, theme));
        }
        return;
    }
    photos::ReverseGeocoder().reverseGeocodeLocation(
            *location, [date, theme, completion = std::move(completion)](
                               std::vector<photos::Placemark> placemarks, std::optional<Error>) {
                if (!completion) {
                    return;
                }
                if (!placemarks.empty() && placemarks.front().locality) {
                    AttributedText text;
                    text.runs.emplace_back(*placemarks.front().locality,
                                           theme->previewTitleAttributes());
                    if (date) {
                        text.runs.emplace_back(
                                "\n" + formatLongDate(*date) + " at " + formatShortTime(*date),
                                theme->previewSubtitleAttributes());
                    }
                    completion(std::move(text));
                } else if (date) {
                    completion(titleFor(*date, theme));
                }
            });
}

}  // namespace pelmar
