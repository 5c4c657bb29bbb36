// A host program that links the SDK's FFmpeg support and logs through FFmpeg itself: one warning
// before and one after it hands FFmpeg's log back (when run with "--hand-back"), then whatever it
// is told to log. Its standard error shows which of its lines FFmpeg printed.
extern "C" {
#include <libavutil/log.h>
}

#include <string_view>

// As every SDK file that calls FFmpeg does, so the SDK's routing is in place before main().
#include "pelmar/platform/libav/LibavHandles.h"

int main(int argc, char** argv) {
    const bool handBack = argc > 1 && std::string_view(argv[1]) == "--hand-back";
    av_log(nullptr, AV_LOG_WARNING, "host warning before\n");
    if (handBack) {
        pelmar::libav::handBackLogging();
        // SDK code that runs later (another file's first use) does not take the log again.
        pelmar::libav::routeLogging();
    }
    av_log(nullptr, AV_LOG_WARNING, "host warning after\n");
    return 0;
}
