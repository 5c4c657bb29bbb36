#include "pelmar/platform/av/testing/ServedTestMovie.h"

#include <exception>

namespace pelmar::av::test {

ServedTestMovie::ServedTestMovie(const TestMovie& movie, std::optional<int64_t> slowBytesPerSecond)
    : path_(folder_.path() / "movie.mp4"), server_(slowBytesPerSecond) {
    std::string command;
    if (!movie.make(path_, &command)) {
        failure_ = "cannot make a movie with: " + command;
        return;
    }
    try {
        server_.Start();
        std::filesystem::copy_file(path_, server_.root() / "movie.mp4");
    } catch (const std::exception& e) {
        failure_ = e.what();
    }
}

}  // namespace pelmar::av::test
