#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace pelmar::av::test {

// MovieProbe: what ffprobe says about a movie file (test support; needs the ffprobe and ffmpeg
// command-line tools).
// Ownership: value type.
// Threads: thread-compatible.
// Errors: probe() returns none when ffprobe cannot read the file.
struct MovieProbe {
    std::string videoCodec;
    int width = 0;
    int height = 0;
    int64_t videoFrames = 0;
    double videoStart = 0;
    double videoDuration = 0;
    std::string audioCodec;
    int sampleRate = 0;
    int channels = 0;
    double audioStart = 0;
    double audioDuration = 0;
    double duration = 0;

    static std::optional<MovieProbe> probe(const std::filesystem::path& file);

    // The RGB colour of pixel (x, y) of video frame `index`, decoded with ffmpeg; none on failure.
    static std::optional<std::array<int, 3>> pixel(const std::filesystem::path& file,
                                                   int index,
                                                   int x,
                                                   int y);
};

}  // namespace pelmar::av::test
