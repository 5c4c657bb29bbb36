#pragma once

#include <filesystem>
#include <string>

namespace pelmar::av::test {

// TestMovie: movie files made by the ffmpeg command-line tool from its test sources, for tests
// and benchmarks of assets, players and exports: a moving test picture and a 440 Hz tone,
// H.264 + AAC (44.1 kHz stereo) in MPEG-4 with its index at the front (or at the end).
// Ownership: value type describing the movie; make() writes the file.
// Threads: thread-safe.
// Errors: make() returns false (and the command in `failure`) when ffmpeg fails.
struct TestMovie {
    TestMovie() = default;

    TestMovie(double seconds_, int width_, int height_, int fps_, int keyInterval_)
        : seconds(seconds_), width(width_), height(height_), fps(fps_), keyInterval(keyInterval_) {}

    // The same movie without sound, or with a display rotation.
    TestMovie silent() const {
        TestMovie copy = *this;
        copy.audio = false;
        return copy;
    }

    TestMovie turned(int degrees) const {
        TestMovie copy = *this;
        copy.rotation = degrees;
        return copy;
    }

    double seconds = 5;
    int width = 640;
    int height = 360;
    int fps = 30;
    int keyInterval = 60;  // frames between key frames
    bool video = true;
    bool audio = true;
    std::string extraOptions;  // more output options, for example "-t 1"
    // The index (moov) after the media data, as most cameras write it, not before.
    bool indexAtEnd = false;
    // Degrees of display rotation recorded for the video (kept only when the encoded stream is
    // copied, so it is added in a second step).
    int rotation = 0;

    bool make(const std::filesystem::path& output, std::string* failure = nullptr) const;
};

}  // namespace pelmar::av::test
