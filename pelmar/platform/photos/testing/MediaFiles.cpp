#include "pelmar/platform/photos/testing/MediaFiles.h"

#include <fstream>
#include <stdexcept>

#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "testing/RunProgram.h"

namespace pelmar::photos::test {

namespace {

std::filesystem::path writeBytes(const std::filesystem::path& folder,
                                 const std::string& name,
                                 const std::string& bytes) {
    std::filesystem::create_directories(folder);
    const auto path = folder / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
    return path;
}

}  // namespace

std::filesystem::path writeJpeg(const std::filesystem::path& folder,
                                const std::string& name,
                                int width,
                                int height,
                                unsigned seed) {
    return writeBytes(folder, name, image::test::jpeg(*image::test::photo(width, height, seed)));
}

std::filesystem::path writePng(const std::filesystem::path& folder,
                               const std::string& name,
                               int width,
                               int height,
                               unsigned seed) {
    return writeBytes(folder, name, image::test::png(*image::test::photo(width, height, seed)));
}

std::filesystem::path writeMovie(const std::filesystem::path& folder,
                                 const std::string& name,
                                 double seconds,
                                 int width,
                                 int height,
                                 bool withAudio,
                                 int keyFrameInterval) {
    std::filesystem::create_directories(folder);
    const auto path = folder / name;
    std::string args = "-y -loglevel error -f lavfi -i testsrc=size=" + std::to_string(width) + "x"
                       + std::to_string(height) + ":rate=15";
    if (withAudio) {
        args += " -f lavfi -i sine=frequency=440:sample_rate=44100 -c:a aac";
    }
    if (keyFrameInterval > 0) {
        args += " -g " + std::to_string(keyFrameInterval);
    }
    args += " -t " + std::to_string(seconds) + " -c:v libx264 -preset ultrafast -pix_fmt yuv420p '"
            + path.string() + "'";
    const auto result = pelmar::test::RunProgram("ffmpeg", args);
    if (result.status != 0) {
        throw std::runtime_error("ffmpeg failed: " + result.output);
    }
    return path;
}

}  // namespace pelmar::photos::test
