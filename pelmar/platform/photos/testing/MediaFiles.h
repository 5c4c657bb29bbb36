#pragma once

#include <filesystem>
#include <string>

// MediaFiles: real picture and movie files for photo-library tests and benchmarks: JPEGs and PNGs
// from the image fixtures, MP4 movies made by the ffmpeg program (tests that use them carry the
// `integration` label).
// Ownership: free functions writing files the caller's folder keeps.
// Threads: thread-safe.
// Errors: throw std::runtime_error when a file cannot be written or ffmpeg fails.

namespace pelmar::photos::test {

std::filesystem::path writeJpeg(const std::filesystem::path& folder,
                                const std::string& name,
                                int width,
                                int height,
                                unsigned seed = 1);

std::filesystem::path writePng(const std::filesystem::path& folder,
                               const std::string& name,
                               int width,
                               int height,
                               unsigned seed = 1);

// An H.264 MP4 of `seconds` of a moving test picture (15 frames a second), with an AAC tone when
// `withAudio`, and a key frame every `keyFrameInterval` frames (0: as the encoder likes).
std::filesystem::path writeMovie(const std::filesystem::path& folder,
                                 const std::string& name,
                                 double seconds,
                                 int width = 320,
                                 int height = 240,
                                 bool withAudio = false,
                                 int keyFrameInterval = 0);

}  // namespace pelmar::photos::test
