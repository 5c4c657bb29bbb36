#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "testing/ServiceTypes.h"

// Decoding of percent-encoded text and of application/x-www-form-urlencoded lists, as the service
// emulator reads queries, form bodies and the "/debugger" report.
// Errors: a '%' not followed by two hex digits makes the whole text invalid (std::nullopt).

namespace pelmar::test {

// Decodes %XX escapes; with `plusIsSpace`, '+' becomes a blank (form rules).
std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace);

// Splits "k=v&k2=v2&" into decoded pairs in order. Empty pieces (a trailing "&", an empty text)
// are skipped; a piece without '=' gives an empty value.
std::optional<FieldList> parseForm(std::string_view text);

}  // namespace pelmar::test
