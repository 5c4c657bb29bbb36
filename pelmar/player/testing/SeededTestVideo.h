#pragma once

#include <filesystem>
#include <string>

#include "pelmar/platform/av/testing/TestMovie.h"
#include "testing/ServiceEmulator.h"

namespace pelmar::test {

// Seeds `emulator` with a one-second test movie (written as `folder`/movie.mp4) as a video of
// the app `appToken`, and returns the video's token; empty when ffmpeg could not make the movie.
// Threads: as the emulator.
inline std::string seedTestVideo(ServiceEmulator& emulator,
                                 const std::string& appToken,
                                 const std::filesystem::path& folder) {
    const auto movie = folder / "movie.mp4";
    av::test::TestMovie made;
    made.seconds = 1;
    if (!made.make(movie)) {
        return "";
    }
    return emulator.seedResource(MediaKind::Video, appToken, movie).token;
}

}  // namespace pelmar::test
