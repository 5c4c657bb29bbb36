#pragma once

#include <cstdint>
#include <string_view>

// StringConversions: the number parsing the service's data contract uses for numbers sent as text.
// Ownership: free functions; no state.
// Threads: thread-safe.
// Errors: none; text that does not parse gives 0.

namespace pelmar {

// The whole text as a decimal integer: optional "+" or "-", then digits, within 64 bits; else 0.
int64_t toInt(std::string_view text);

// The digits and points of the text as one decimal number (C locale); else 0.
// Keeps only the characters of "0123456789." before parsing, so signs, exponents and separators are
// dropped ("-2.5" gives 2.5, "1,5" gives 15, "1e3" gives 13). The service relies on this reading;
// not for general-purpose parsing.
float toFloat(std::string_view text);

// As toFloat, with 64-bit precision.
double toDouble(std::string_view text);

}  // namespace pelmar
