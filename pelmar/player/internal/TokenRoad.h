#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/av/MutableComposition.h"
#include "pelmar/platform/foundation/Json.h"

// The token road of the video player: what a service video token plays as. The URL is the
// video's file URL with the caller's parameters, the service client's session entries and a
// fresh seed in its query; when the service holds a transcription of the video, a WebVTT file is
// written and the video plays as a composition that can carry it as a text track.
// Threads: thread-safe. The callback runs on the thread on which the service client delivers the
//     stream description (never the caller's), where the composition is also built.

namespace pelmar {
class Pelmar;
}  // namespace pelmar

namespace pelmar::player::internal {

struct TokenSource {
    // The video's URL with its query; empty when the token gives no usable URL.
    std::string url;
    // Set when the video plays as a subtitled composition.
    std::shared_ptr<av::MutableComposition> composition;
    // The subtitle file written for the video, if any.
    std::optional<std::filesystem::path> subtitles;
};

// Writes the subtitle file of `words` and `times` (see renderVTT) into Documents as a unique
// name + ".vtt" and returns its path; each cue is logged ("vtt: " + the text so far, then
// "output file: " + the path). A write error leaves the file empty; the path is returned anyway.
std::filesystem::path writeSubtitleFile(const std::optional<Json>& words,
                                        const std::optional<Json>& times);

// Builds the source of `token`. Without the facade's service objects the callback gets an empty
// source at once.
void buildTokenSource(const std::shared_ptr<Pelmar>& application,
                      const std::string& token,
                      const std::optional<Json>& params,
                      std::function<void(TokenSource)> callback);

}  // namespace pelmar::player::internal
