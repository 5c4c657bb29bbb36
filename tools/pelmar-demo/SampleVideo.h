#pragma once

#include <filesystem>
#include <optional>
#include <string>

// SampleVideo: writes a short MPEG-4 movie (H.264 through libx264, a moving colour pattern) for the
// demo to upload.
// Ownership: a function; the file belongs to the caller.
// Threads: thread-safe.
// Errors: returns a message when the movie cannot be written, std::nullopt on success.

namespace pelmar::demo {

std::optional<std::string> writeSampleVideo(const std::filesystem::path& file,
                                            int width = 320,
                                            int height = 240,
                                            int frames = 60,
                                            int fps = 30);

}  // namespace pelmar::demo
