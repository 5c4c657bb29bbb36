#include "pelmar/platform/av/testing/TestMovie.h"

#include <cstdlib>

namespace pelmar::av::test {

bool TestMovie::make(const std::filesystem::path& output, std::string* failure) const {
    const std::string duration = std::to_string(seconds);
    std::string command = "ffmpeg -nostdin -v error -y";
    if (video) {
        command += " -f lavfi -i testsrc2=size=" + std::to_string(width) + "x"
                   + std::to_string(height) + ":rate=" + std::to_string(fps)
                   + ":duration=" + duration;
    }
    if (audio) {
        command += " -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" + duration;
    }
    if (video) {
        command += " -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g "
                   + std::to_string(keyInterval) + " -keyint_min " + std::to_string(keyInterval)
                   + " -sc_threshold 0";
    }
    if (audio) {
        command += " -c:a aac -ac 2 -b:a 96k";
    }
    const std::filesystem::path encoded =
            rotation == 0 ? output
                          : output.parent_path() / ("unturned-" + output.filename().string());
    const std::string index = indexAtEnd ? "" : " -movflags +faststart";
    command += index + " " + extraOptions + " '" + encoded.string() + "'";
    if (rotation != 0) {
        command += " && ffmpeg -nostdin -v error -y -i '" + encoded.string()
                   + "' -c copy -metadata:s:v rotate=" + std::to_string(rotation) + index + " '"
                   + output.string() + "' && rm -f '" + encoded.string() + "'";
    }
    if (std::system(command.c_str()) != 0) {
        if (failure != nullptr) {
            *failure = command;
        }
        return false;
    }
    return true;
}

}  // namespace pelmar::av::test
