// livestreamer: publishes a file of recorded H.264 frames to an RTMP server and writes the same FLV
// stream to a file.
//
//   livestreamer inputFileName outputFileName.flv [rtmpUrl [streamName]]
//
// After the last frame it prints "done" and waits for a key (a line on standard input) before it
// ends the stream. The URL must be rtmp:// with a host.
// The input is a run of frames, each preceded by the marker "FRAM"; a frame is one H.264 access
// unit with 4-byte big-endian NAL lengths, the first one a key frame holding the SPS and PPS.
// Frames go out at 25 frames per second of stream time (as fast as the server takes them). The
// input and the output file are checked before connecting. Progress goes to standard output; any
// failure prints its reason and exits with status 1.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pelmar/live/FLVMuxer.h"
#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/RTMPClient.h"

namespace {

using namespace pelmar::live;

constexpr const char* kDefaultUrl = "rtmp://127.0.0.1/myapp/test";
constexpr double kFrameDuration = 0.04;
constexpr uint8_t kMarker[4] = {'F', 'R', 'A', 'M'};

void Print(const std::string& line) {
    std::cout << line << std::endl;
}

std::vector<uint8_t> ReadInput(const std::string& path) {
    // A folder opens as a stream too, with a nonsense size: only a regular file is input.
    std::error_code error;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!std::filesystem::is_regular_file(path, error) || !in) {
        throw std::runtime_error("can't read input file: " + path);
    }
    const auto size = static_cast<std::streamsize>(in.tellg());
    std::vector<uint8_t> bytes(static_cast<size_t>(size < 0 ? 0 : size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        throw std::runtime_error("can't read input file: " + path);
    }
    return bytes;
}

// The first marker in [from, end), or end. Scanning for its first byte with memchr runs at
// memory speed over frame data, where that byte is rare.
const uint8_t* FindMarker(const uint8_t* from, const uint8_t* end) {
    while (end - from >= static_cast<std::ptrdiff_t>(sizeof kMarker)) {
        const void* found = std::memchr(from, kMarker[0], static_cast<size_t>(end - from) - 3);
        if (found == nullptr) {
            break;
        }
        const auto* candidate = static_cast<const uint8_t*>(found);
        if (std::memcmp(candidate, kMarker, sizeof kMarker) == 0) {
            return candidate;
        }
        from = candidate + 1;
    }
    return end;
}

// Splits the input at the markers and hands each non-empty frame to `put` in order. Bytes before
// the first marker form a frame of their own, as do the bytes after the last one.
template <typename Put>
void ForEachFrame(const std::vector<uint8_t>& input, Put put) {
    const uint8_t* start = input.data();
    const uint8_t* const end = input.data() + input.size();
    for (;;) {
        const uint8_t* marker = FindMarker(start, end);
        if (marker != start) {
            put(std::vector<uint8_t>(start, marker));
        }
        if (marker == end) {
            return;
        }
        start = marker + sizeof kMarker;
    }
}

int Run(int argc, char** argv) {
    if (argc < 3) {
        throw std::runtime_error(
                "Usage: livestreamer inputFileName outputFileName.flv\n"
                "       livestreamer inputFileName outputFileName.flv [rtmpUrl [streamName]]\n"
                "After \"done\" it waits for a key (Enter) before it ends the stream.");
    }
    const std::string inputPath = argv[1];
    const std::string outputPath = argv[2];
    const std::string url = argc > 3 ? argv[3] : kDefaultUrl;
    const std::string streamName = argc > 4 ? argv[4] : "";
    if (url.rfind("rtmp://", 0) != 0 || url.size() == std::strlen("rtmp://")
        || url[std::strlen("rtmp://")] == '/') {
        throw std::runtime_error("invalid URL: " + url);
    }

    const auto input = ReadInput(inputPath);
    Print("input data size: " + std::to_string(input.size()));
    if (input.size() < 4) {
        throw std::runtime_error("no input data found");
    }
    std::ofstream output(outputPath, std::ios::binary | std::ios::trunc);
    if (!output) {
        throw std::runtime_error("can't open output file: " + outputPath);
    }

    RTMPClient::Callbacks callbacks;
    callbacks.errorCallback = [](std::string error) { Print("rtmp error: " + error); };
    auto client = std::make_shared<RTMPClient>(url, streamName, callbacks);
    {
        // The file gets each piece first, so it keeps everything made even when publishing fails.
        auto sink = std::make_shared<MediaCallback<FLVFrame>>([&](FLVFrame frame) {
            output.write(reinterpret_cast<const char*>(frame.Data().data()),
                         static_cast<std::streamsize>(frame.Data().size()));
            if (!output) {
                throw std::runtime_error("can't write output file: " + outputPath);
            }
            client->PutFrame(frame);
        });
        FLVMuxer muxer(sink);
        const unsigned track = muxer.AddTrack({MediaType::Video, MediaCodec::H264});
        FLVMetadata metadata;
        metadata.frameRate = 1.0 / kFrameDuration;
        muxer.SetMetadata(metadata);

        size_t count = 0;
        ForEachFrame(input, [&](std::vector<uint8_t> bytes) {
            MediaFrame frame(MediaType::Video, MediaCodec::H264);
            frame.Data() = std::move(bytes);
            frame.SetKeyFrame(count == 0);
            frame.SetPTS(static_cast<double>(count) * kFrameDuration);
            Print("Media frame " + std::to_string(frame.Data().size()) + " bytes");
            muxer.PutFrame(frame, track);
            ++count;
        });
        Print("done");
        std::cin.get();
    }
    output.close();
    if (!output) {
        throw std::runtime_error("can't write output file: " + outputPath);
    }
    client->Close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        Print(e.what());
        return 1;
    }
}
