#include "pelmar/platform/libav/LibavLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>
#include <string>

#include "pelmar/platform/foundation/LogSink.h"

namespace pelmar::libav {
namespace {

void forward(void* object, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_INFO || !foundation::LogSink::libraryLogging()) {
        return;
    }
    // FFmpeg may hand over a line in pieces; each thread gathers its own until the newline.
    thread_local std::string pending;
    thread_local int printPrefix = 1;
    char piece[1024];
    va_list copy;
    va_copy(copy, arguments);
    av_log_format_line2(object, level, format, copy, piece, sizeof piece, &printPrefix);
    va_end(copy);
    pending += piece;
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty()) {
            foundation::LogSink::write(foundation::LogChannel::Library, line);
        }
    }
}

}  // namespace

bool routeLogging() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_INFO);
        av_log_set_callback(forward);
    });
    return true;
}

}  // namespace pelmar::libav
