#include "pelmar/platform/libav/LibavLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <string>

#include "pelmar/platform/foundation/LogSink.h"
#include "pelmar/platform/sync/Mutex.h"

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

// Who has FFmpeg's log. Made on first use, so it works from static initialisation.
class LogOwner {
public:
    static LogOwner& instance() {
        static LogOwner owner;
        return owner;
    }

    void route() {
        MutexLock lock(mutex_);
        if (routed_ || handedBack_) {
            return;
        }
        routed_ = true;
        levelBefore_ = av_log_get_level();
        av_log_set_level(kLevel);
        av_log_set_callback(forward);
    }

    void handBack() {
        MutexLock lock(mutex_);
        if (handedBack_) {
            return;
        }
        handedBack_ = true;
        if (!routed_) {
            return;
        }
        av_log_set_callback(av_log_default_callback);
        if (av_log_get_level() == kLevel) {
            av_log_set_level(levelBefore_);
        }
    }

private:
    // FFmpeg's lines above it are never forwarded.
    static constexpr int kLevel = AV_LOG_INFO;

    LogOwner() = default;

    Mutex mutex_;
    bool routed_ PELMAR_GUARDED_BY(mutex_) = false;
    bool handedBack_ PELMAR_GUARDED_BY(mutex_) = false;
    int levelBefore_ PELMAR_GUARDED_BY(mutex_) = AV_LOG_INFO;
};

}  // namespace

bool routeLogging() {
    LogOwner::instance().route();
    return true;
}

void handBackLogging() {
    LogOwner::instance().handBack();
}

}  // namespace pelmar::libav
