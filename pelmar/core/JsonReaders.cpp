#include "pelmar/core/JsonReaders.h"

#include <cmath>
#include <limits>

#include "pelmar/core/StringConversions.h"

namespace pelmar {
namespace {

constexpr std::string_view kNullText = "<null>";

const Json* findValue(const Json& json, std::string_view key) {
    if (!json.is_object()) {
        return nullptr;
    }
    auto it = json.find(key);
    return it == json.end() ? nullptr : &*it;
}

std::string textOrZero(const Json& json, std::string_view key) {
    std::string text = getStringValue(json, key);
    return text.empty() ? "0" : text;
}

}  // namespace

std::string getStringValue(const Json& json, std::string_view key) {
    const Json* value = findValue(json, key);
    if (value == nullptr || !value->is_string()) {
        return "";
    }
    const auto& text = value->get_ref<const std::string&>();
    return text == kNullText ? "" : text;
}

bool getBoolValue(const Json& json, std::string_view key) {
    return getStringValue(json, key) == "YES";
}

int64_t getIntValue(const Json& json, std::string_view key) {
    const Json* value = findValue(json, key);
    if (value != nullptr) {
        if (value->is_boolean()) {
            return value->get<bool>() ? 1 : 0;
        }
        if (value->is_number_integer() && !value->is_number_unsigned()) {
            return value->get<int64_t>();
        }
        if (value->is_number_unsigned()) {
            const uint64_t number = value->get<uint64_t>();
            if (number <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                return static_cast<int64_t>(number);
            }
        } else if (value->is_number_float()) {
            // Only a value that converts exactly: integral and inside the 64-bit range.
            const double number = value->get<double>();
            constexpr double kTwoTo63 = 9223372036854775808.0;
            if (std::isfinite(number) && std::trunc(number) == number && number >= -kTwoTo63
                && number < kTwoTo63) {
                return static_cast<int64_t>(number);
            }
        }
    }
    return toInt(textOrZero(json, key));
}

double getDoubleValue(const Json& json, std::string_view key) {
    const Json* value = findValue(json, key);
    if (value != nullptr) {
        if (value->is_boolean()) {
            return value->get<bool>() ? 1.0 : 0.0;
        }
        if (value->is_number()) {
            return value->get<double>();
        }
    }
    return toDouble(textOrZero(json, key));
}

std::vector<std::string> getStringArrayValue(const Json& json, std::string_view key) {
    const Json* value = findValue(json, key);
    if (value == nullptr || !value->is_array()) {
        return {};
    }
    std::vector<std::string> strings;
    strings.reserve(value->size());
    for (const Json& element : *value) {
        if (!element.is_string()) {
            return {};
        }
        strings.push_back(element.get<std::string>());
    }
    return strings;
}

}  // namespace pelmar
