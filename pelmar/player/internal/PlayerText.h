#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pelmar/platform/foundation/Json.h"

// Text helpers of the video player: subtitle files, the token road's URL and event texts.
// Threads: thread-safe.

namespace pelmar::player::internal {

// HH:MM:SS.mmm of `milliseconds` (hours with at least two digits; negative counts as 0).
std::string vttTimestamp(int64_t milliseconds);

// A WebVTT document: "WEBVTT\n\n", then per word a timing line from times[i]'s integer "start"
// and "end" (milliseconds) and the word, each cue ending with an empty line. Only the first
// min(words, times) entries count; an entry whose word is not a string or whose time lacks an
// integer "start" or "end" is left out. `afterCue` hears the text so far after each cue.
std::string renderVTT(const Json& words,
                      const Json& times,
                      const std::function<void(const std::string&)>& afterCue = nullptr);

// A uniform random integer in 0 ... 2^63 - 2 drawn from the system's random source.
uint64_t drawSeed();

// `videoUrl` + "?" + "key=value&" per entry of `params` in its order + "seed=" + seed + "&".
// Keys and values are percent-encoded (only A-Z a-z 0-9 - . _ ~ stay); a string value is its
// characters, any other value its JSON text.
std::string tokenRoadURL(const std::string& videoUrl, const Json& params, uint64_t seed);

// `seconds` rounded to two decimals, half away from zero.
double roundToHundredths(double seconds);

// The shortest decimal text that reads back as `value`, with at least one digit after the point
// ("4.0", "4.01").
std::string shortestDecimal(double value);

// A name no other call in this process returns: a random UUID and a counter.
std::string uniqueName();

}  // namespace pelmar::player::internal
