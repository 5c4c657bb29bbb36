#pragma once

#include <filesystem>
#include <string>

#include "pelmar/platform/av/testing/TestMovie.h"
#include "testing/TempDir.h"

namespace pelmar::test {

// PlayerTestMovie: one 5-second movie (320 x 180, H.264 + AAC) made by ffmpeg for a whole test
// program, in a folder removed at exit.
// Ownership: a process-wide instance (shared()).
// Threads: made once, thread-safe.
// Errors: failure() says why ffmpeg could not make it; empty when the movie is ready.
class PlayerTestMovie {
public:
    static const PlayerTestMovie& shared() {
        static const PlayerTestMovie movie;
        return movie;
    }

    const std::filesystem::path& path() const { return path_; }

    const std::filesystem::path& folder() const { return folder_.path(); }

    const std::string& failure() const { return failure_; }

private:
    PlayerTestMovie() {
        av::test::TestMovie movie;
        movie.seconds = 5;
        movie.width = 320;
        movie.height = 180;
        if (!movie.make(path_, &failure_) && failure_.empty()) {
            failure_ = "ffmpeg could not make the movie";
        }
    }

    TempDir folder_{"player-movie"};
    std::filesystem::path path_ = folder_.path() / "movie.mp4";
    std::string failure_;
};

}  // namespace pelmar::test
