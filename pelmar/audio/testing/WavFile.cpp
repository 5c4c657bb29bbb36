#include "pelmar/audio/testing/WavFile.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace pelmar::test {

bool writeWav(const std::filesystem::path& path, int channels, int frames, int silentFrames) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * static_cast<size_t>(channels), 0);
    for (size_t i = static_cast<size_t>(silentFrames) * static_cast<size_t>(channels);
         i < samples.size(); ++i) {
        samples[i] = -32768;
    }
    const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
    const uint32_t rate = 44100;
    const auto blockAlign = static_cast<uint16_t>(channels * 2);
    const uint32_t byteRate = rate * blockAlign;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(static_cast<uint16_t>(channels));
    u32(rate);
    u32(byteRate);
    u16(blockAlign);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    const bool written = std::fwrite(samples.data(), 2, samples.size(), f) == samples.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace pelmar::test
