// livestreamer: publishes a file of recorded H.264 frames to an RTMP server and writes the same FLV
// stream to a file.
//
//   livestreamer inputFileName outputFileName.flv [rtmpUrl [streamName]]
//   livestreamer --help
//
// After the last frame it prints "done" and waits for a key (a line on standard input) before it
// ends the stream. The URL must be rtmp:// with a host. The input format, and how to make an
// input from an H.264 file, is in kHelp below. Frames go out at 25 frames per second of stream
// time (as fast as the server takes them). The input and the output file are checked before
// connecting. Progress and failures go to standard output; any failure prints its reason and
// exits with status 1.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <span>
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

constexpr const char* kUsage =
        "Usage: livestreamer inputFileName outputFileName.flv\n"
        "       livestreamer inputFileName outputFileName.flv [rtmpUrl [streamName]]\n"
        "After \"done\" it waits for a key (Enter) before it ends the stream.";

constexpr const char* kHelp =
        R"(livestreamer: publishes recorded H.264 video to an RTMP server and writes the same FLV
stream to a file.

Usage: livestreamer inputFileName outputFileName.flv [rtmpUrl [streamName]]
       livestreamer --help

  inputFileName       a ".fram" file (below)
  outputFileName.flv  the FLV stream as sent (header, metadata, the AVC sequence header and one
                      video tag per frame); written even when publishing fails
  rtmpUrl             rtmp://host[:port]/app (default rtmp://127.0.0.1/myapp/test)
  streamName          the stream to publish (default: none)

Frames go out at 25 frames per second of stream time, as fast as the server takes them. After
the last one it prints "done" and waits for Enter before it ends the stream. Progress and
errors go to standard output; the exit status is 0 on success, 1 on failure.

Input: a ".fram" file is a run of frames, each preceded by the 4-byte marker "FRAM"
(46 52 41 4D). A frame is one H.264 access unit in length-prefixed form: each NAL unit with
its size as a 4-byte big-endian number in front, no start codes. The first frame is the key
frame and holds the SPS and PPS units; frames are in decoding order, without B-frames.

To make one from an H.264 file (any movie ffmpeg reads), encode without B-frames, with an
access-unit delimiter in front of every frame, then turn the delimiters into markers:

  ffmpeg -i movie.mp4 -an -c:v libx264 -pix_fmt yuv420p -bf 0 -x264-params aud=1 -f h264 movie.h264
  python3 - movie.h264 movie.fram <<'END'
  import re, sys
  data = open(sys.argv[1], 'rb').read()
  out = bytearray()
  for unit in re.split(b'\x00\x00\x01', data)[1:]:
      unit = unit.rstrip(b'\x00')
      if unit and unit[0] & 0x1F == 9:
          out += b'FRAM'
      elif unit:
          out += len(unit).to_bytes(4, 'big') + unit
  open(sys.argv[2], 'wb').write(out)
  END
)";

void Print(const std::string& line) {
    std::cout << line << std::endl;
}

// Failures are printed among the progress lines, on standard output, so one stream tells the
// whole run in order.
void PrintError(const std::string& line) {
    std::cout << line << std::endl;
}

// The input file, mapped read-only: frames are read straight from the page cache, with no
// zero-filled buffer the size of the file and no copy of it.
class InputFile {
public:
    explicit InputFile(const std::string& path) {
        // A folder opens too, with a nonsense size: only a regular file is input.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);

        struct stat status {};

        if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            if (fd >= 0) {
                ::close(fd);
            }
            throw std::runtime_error("can't read input file: " + path);
        }
        size_ = static_cast<size_t>(status.st_size);
        if (size_ > 0) {
            void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped == MAP_FAILED) {
                ::close(fd);
                throw std::runtime_error("can't read input file: " + path);
            }
            data_ = static_cast<const uint8_t*>(mapped);
            // Read once, front to back.
            ::madvise(mapped, size_, MADV_SEQUENTIAL);
        }
        ::close(fd);
    }

    ~InputFile() {
        if (data_ != nullptr) {
            ::munmap(const_cast<uint8_t*>(data_), size_);
        }
    }

    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::span<const uint8_t> bytes() const { return {data_, size_}; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

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
void ForEachFrame(std::span<const uint8_t> input, Put put) {
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
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << kHelp;
        return 0;
    }
    if (argc < 3) {
        throw std::runtime_error(kUsage);
    }
    const std::string inputPath = argv[1];
    const std::string outputPath = argv[2];
    const std::string url = argc > 3 ? argv[3] : kDefaultUrl;
    const std::string streamName = argc > 4 ? argv[4] : "";
    if (url.rfind("rtmp://", 0) != 0 || url.size() == std::strlen("rtmp://")
        || url[std::strlen("rtmp://")] == '/') {
        throw std::runtime_error("invalid URL: " + url);
    }

    const InputFile inputFile(inputPath);
    const auto input = inputFile.bytes();
    Print("input data size: " + std::to_string(input.size()));
    if (input.size() < 4) {
        throw std::runtime_error("no input data found");
    }
    std::ofstream output(outputPath, std::ios::binary | std::ios::trunc);
    if (!output) {
        throw std::runtime_error("can't open output file: " + outputPath);
    }

    RTMPClient::Callbacks callbacks;
    callbacks.errorCallback = [](std::string error) { PrintError("rtmp error: " + error); };
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
        PrintError(e.what());
        return 1;
    }
}
