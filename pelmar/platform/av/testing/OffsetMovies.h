#pragma once

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "pelmar/platform/av/internal/PlaybackDecoder.h"
#include "testing/CountingMovie.h"

namespace pelmar::av::test {

// OffsetMovies: counting movies (testing/CountingMovie.h: every frame its own flat colour) whose
// first frame is not at timestamp zero, for the tests of how a player times its pictures: an
// MPEG-4 movie written with a start offset of 0.5 s (an empty edit: its first picture is due at
// 0.5 s of the item), one with B-frames and no edit list (its timestamps start at 0.2 s, and so
// does the item's time), and an MPEG-TS file (timestamps from 1.4 s, the item's time from there).
// Ownership: value type; write() makes the files in the caller's folder.
// Threads: thread-safe.
// Errors: write() gives false when ffmpeg fails for any of them.
struct OffsetMovies {
    struct Movie {
        const char* name;
        std::filesystem::path path;
        // Item seconds at which the first picture is due; each next one is 1 / rate later.
        double firstPictureAt = 0;
    };

    static constexpr double kSeconds = 4.0;
    static constexpr int kRate = 10;
    static constexpr int kFrames = 40;
    // Pictures a player decodes ahead of the one it shows, for bounds on the frames decoded.
    static constexpr int kFramesDecodedAhead = internal::PlaybackDecoder::kFramesAhead;

    std::vector<Movie> movies;

    bool write(const std::filesystem::path& folder) {
        struct Kind {
            const char* name;
            const char* file;
            const char* options;
            double firstPictureAt;
        } kinds[] = {
                {"start offset", "offset.mp4", "-output_ts_offset 0.5", 0.5},
                {"B-frames without an edit list", "bframes.mp4", "-bf 2 -use_editlist 0", 0.0},
                {"MPEG-TS", "stream.ts", "", 0.0},
        };

        movies.clear();
        for (const Kind& kind : kinds) {
            pelmar::test::CountingMovie counting;
            counting.seconds = kSeconds;
            counting.rate = kRate;
            counting.size = "160x120";
            counting.keyFrameInterval = kRate;
            counting.extra = kind.options;
            const auto path = folder / kind.file;
            if (counting.write(path).status != 0) {
                return false;
            }
            movies.push_back({kind.name, path, kind.firstPictureAt});
        }
        return true;
    }

    // The frame due at `seconds` of `movie`'s item.
    static int frameAt(const Movie& movie, double seconds) {
        const int index =
                static_cast<int>(std::floor((seconds - movie.firstPictureAt) * kRate + 1e-6));
        return std::clamp(index, 0, kFrames - 1);
    }
};

}  // namespace pelmar::av::test
