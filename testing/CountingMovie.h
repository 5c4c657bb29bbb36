#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/image/Bitmap.h"
#include "testing/RunProgram.h"

// CountingMovie: an H.264 MP4 made with ffmpeg in which every frame is one flat colour that
// tells its index apart from its neighbours (luma steps of 8, chroma changing every 26 frames),
// so a test can tell which frame a decoder, a trim or a seek produced by comparing colours with
// ffmpeg's own decode of the same file (av::test::MovieProbe::pixel).
// Ownership: nothing is kept; the file belongs to the caller.
// Threads: thread-safe.
// Errors: returns the ffmpeg result; status 0 means the file was written.

namespace pelmar::test {

struct CountingMovie {
    double seconds = 12;
    int rate = 10;
    std::string size = "320x240";
    int keyFrameInterval = 30;  // frames
    bool audio = false;         // a 440 Hz tone alongside
    std::string extra;          // more output options ("-metadata:s:v rotate=90")

    ProgramResult write(const std::filesystem::path& file) const {
        const std::string d = std::to_string(seconds);
        std::string inputs = "-f lavfi -i \"color=c=black:s=" + size + ":r=" + std::to_string(rate)
                             + ":d=" + d
                             + ",format=yuv420p,geq=lum='16+8*mod(N,26)':cb=128:"
                               "cr='16+8*mod(floor(N/26),28)'\"";
        if (audio) {
            inputs += " -f lavfi -i \"sine=frequency=440:sample_rate=44100:duration=" + d + "\"";
        }
        return RunProgram(
                "ffmpeg",
                "-nostdin -v error -y " + inputs
                        + " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -sc_threshold 0 -g "
                        + std::to_string(keyFrameInterval) + " " + extra
                        + (audio ? " -c:a aac -shortest" : "") + " '" + file.string() + "'");
    }
};

// Whether the centre of `image` (RGBA) has the colour of frame `index` of `movie` as ffmpeg
// decodes it, within 4 levels a channel (neighbouring frames differ by about 9).
inline ::testing::AssertionResult ShowsFrame(const image::Bitmap* image,
                                             const std::filesystem::path& movie,
                                             int index) {
    if (image == nullptr) {
        return ::testing::AssertionFailure() << "no image";
    }
    const int x = image->width() / 2;
    const int y = image->height() / 2;
    const auto expected = av::test::MovieProbe::pixel(movie, index, x, y);
    if (!expected) {
        return ::testing::AssertionFailure() << "ffmpeg cannot decode frame " << index;
    }
    const uint8_t* got = image->pixel(x, y);
    for (int c = 0; c < 3; ++c) {
        if (std::abs(got[c] - (*expected)[c]) > 4) {
            return ::testing::AssertionFailure()
                   << "channel " << c << " is " << static_cast<int>(got[c]) << ", frame " << index
                   << " has " << (*expected)[c];
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace pelmar::test
