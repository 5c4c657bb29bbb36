#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

// H.264 fixtures for the streaming library's tests and benchmarks: ffmpeg encodes a test pattern
// into an Annex-B stream, which is split into access units in length-prefixed (AVCC) form, the
// form the FLV muxer takes; plus the "FRAM" file format of the livestreamer tool, and a shell
// runner for ffmpeg and ffprobe.
// Ownership: free functions on values and files.
// Threads: thread-safe (each call uses its own files).
// Errors: std::runtime_error when a command fails or a file cannot be read or written.

namespace pelmar::test {

// Runs `command` through the shell; returns its standard output. Throws when it exits non-zero.
inline std::string RunCommand(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("can't run: " + command);
    }
    std::string output;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    if (::pclose(pipe) != 0) {
        throw std::runtime_error("command failed: " + command);
    }
    return output;
}

inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("can't read " + path.string());
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("can't write " + path.string());
    }
}

// The NAL units of an Annex-B stream, start codes and trailing zero bytes removed.
inline std::vector<std::vector<uint8_t>> SplitAnnexB(const std::vector<uint8_t>& stream) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= stream.size(); ++i) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<std::vector<uint8_t>> units;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : stream.size();
        while (end > starts[k] && stream[end - 1] == 0) {
            --end;
        }
        if (end > starts[k]) {
            units.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                               stream.begin() + static_cast<std::ptrdiff_t>(end));
        }
    }
    return units;
}

// Groups NAL units into access units, each in AVCC form (4-byte big-endian lengths). A unit
// starts a new access unit when it is a delimiter, parameter set or SEI following a slice, or the
// first slice of a picture (first_mb_in_slice 0) following a slice.
inline std::vector<std::vector<uint8_t>> AccessUnitsFromAnnexB(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> accessUnits;
    std::vector<uint8_t> current;
    bool hasSlice = false;
    for (const auto& unit : SplitAnnexB(stream)) {
        const int type = unit[0] & 0x1F;
        const bool slice = type == 1 || type == 5;
        const bool firstSlice = slice && unit.size() > 1 && (unit[1] & 0x80) != 0;
        const bool startsPicture = type == 9 || type == 6 || type == 7 || type == 8 || firstSlice;
        if (startsPicture && hasSlice) {
            accessUnits.push_back(std::move(current));
            current.clear();
            hasSlice = false;
        }
        const auto n = static_cast<uint32_t>(unit.size());
        current.insert(current.end(), {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                                       static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        current.insert(current.end(), unit.begin(), unit.end());
        hasSlice = hasSlice || slice;
    }
    if (!current.empty()) {
        accessUnits.push_back(std::move(current));
    }
    return accessUnits;
}

// `frames` frames of ffmpeg's test pattern at 25 frames/s, without B-frames, a key frame every
// `gop` frames, as AVCC access units. `extra` adds ffmpeg output options (bit rate, profile).
inline std::vector<std::vector<uint8_t>> MakeH264AccessUnits(const std::filesystem::path& dir,
                                                             int frames,
                                                             const std::string& size = "320x240",
                                                             int gop = 25,
                                                             const std::string& extra = "") {
    const auto file = dir / ("clip_" + size + "_" + std::to_string(frames) + ".h264");
    RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + size
               + ":rate=25 -frames:v " + std::to_string(frames)
               + " -c:v libx264 -preset ultrafast -bf 0 -pix_fmt yuv420p -g " + std::to_string(gop)
               + " " + extra + " -bsf:v h264_mp4toannexb -f h264 '" + file.string() + "'");
    return AccessUnitsFromAnnexB(ReadFileBytes(file));
}

// The livestreamer tool's input: each frame preceded by the marker "FRAM".
inline std::vector<uint8_t> FramFile(const std::vector<std::vector<uint8_t>>& frames) {
    std::vector<uint8_t> bytes;
    for (const auto& frame : frames) {
        bytes.insert(bytes.end(), {'F', 'R', 'A', 'M'});
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

// One line per video packet of `path` as ffprobe reports it: "<pts_time>,<flags>".
inline std::vector<std::string> ProbeVideoPackets(const std::string& path) {
    const std::string out = RunCommand(
            "ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,flags -of csv=p=0 '"
            + path + "'");
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) {
            end = out.size();
        }
        if (end > start) {
            lines.push_back(out.substr(start, end - start));
        }
        start = end + 1;
    }
    return lines;
}

// "codec_name,width,height" of the first video stream of `path`.
inline std::string ProbeVideoStream(const std::string& path) {
    std::string out = RunCommand(
            "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height -of "
            "csv=p=0 '"
            + path + "'");
    while (!out.empty() && (out.back() == '\n' || out.back() == ',')) {
        out.pop_back();
    }
    return out;
}

}  // namespace pelmar::test
