#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/av/testing/TestMovie.h"
#include "testing/NginxHttpServer.h"
#include "testing/TempDir.h"

namespace pelmar::av::test {

// ServedTestMovie: a TestMovie written to a fresh folder and the same file served by nginx on a
// loopback port as "/movie.mp4" (and throttled as "/slow/movie.mp4" when made with a rate), for
// the tests of assets, exports and players. Tests usually make one per test program in
// SetUpTestSuite.
// Ownership: owns the folder (removed with it) and the nginx process.
// Threads: thread-compatible.
// Errors: failure() tells what could not be made (ffmpeg or nginx); empty when ready.
class ServedTestMovie {
public:
    explicit ServedTestMovie(const TestMovie& movie = {},
                             std::optional<int64_t> slowBytesPerSecond = std::nullopt);

    const std::string& failure() const { return failure_; }

    const std::filesystem::path& folder() const { return folder_.path(); }

    const std::filesystem::path& path() const { return path_; }

    // http://127.0.0.1:<port><path>
    std::string url(const std::string& path = "/movie.mp4") const { return server_.Url(path); }

    pelmar::test::NginxHttpServer& server() { return server_; }

private:
    pelmar::test::TempDir folder_{"test-movie"};
    std::filesystem::path path_;
    pelmar::test::NginxHttpServer server_;
    std::string failure_;
};

}  // namespace pelmar::av::test
