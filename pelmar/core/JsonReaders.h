// JsonReaders: lenient readers of one value of a decoded JSON object, used to fill the data
// models from the service's answers.
// Ownership: free functions; no state.
// Threads: thread-safe.
// Errors: none; a missing key, a value of another kind or a `json` that is not an object gives
//     "", false, 0, 0.0 or an empty array.
//
// Reading rules the service relies on: the text "<null>" counts as empty; a Boolean is true only
// for the text "YES" (a JSON true is false); numbers sent as text go through `toInt`/`toDouble`;
// JSON Booleans count as the numbers 1 and 0 for the numeric readers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

namespace pelmar {

std::string getStringValue(const Json& json, std::string_view key);

bool getBoolValue(const Json& json, std::string_view key);

// A number that is exactly an integer, else the text through `toInt` ("" reads as "0").
int64_t getIntValue(const Json& json, std::string_view key);

// A number, else the text through `toDouble` ("" reads as "0").
double getDoubleValue(const Json& json, std::string_view key);

// The array if every element is a string, else empty.
std::vector<std::string> getStringArrayValue(const Json& json, std::string_view key);

}  // namespace pelmar
