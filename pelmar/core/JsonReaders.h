#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

// JsonReaders: lenient readers of one value of a decoded JSON object, used to fill the data models
// from the service's answers.
// Ownership: free functions; no state.
// Threads: thread-safe.
// Errors: none; a missing key, a value of another kind or a `json` that is not an object gives "",
//     false, 0, 0.0 or an empty array.

namespace pelmar {

// The text; "<null>" counts as empty.
std::string getStringValue(const Json& json, std::string_view key);

// True only for the text "YES" (a JSON true reads as false), as the service sends it.
bool getBoolValue(const Json& json, std::string_view key);

// A number that is exactly an integer, else the text through `toInt` ("" reads as "0"); a JSON
// Boolean counts as 1 or 0.
int64_t getIntValue(const Json& json, std::string_view key);

// A number, else the text through `toDouble` ("" reads as "0"); a JSON Boolean counts as 1 or 0.
double getDoubleValue(const Json& json, std::string_view key);

// The array if every element is a string, else empty.
std::vector<std::string> getStringArrayValue(const Json& json, std::string_view key);

}  // namespace pelmar
