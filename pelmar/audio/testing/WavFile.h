#pragma once

#include <filesystem>

namespace pelmar::test {

// Writes a 16-bit PCM WAV at 44.1 kHz of `frames` frames: `silentFrames` of silence, then full
// scale (-32768) in every channel. Returns false when the file cannot be written.
// Threads: thread-safe.
bool writeWav(const std::filesystem::path& path, int channels, int frames, int silentFrames);

}  // namespace pelmar::test
