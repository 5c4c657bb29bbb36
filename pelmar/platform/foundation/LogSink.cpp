#include "pelmar/platform/foundation/LogSink.h"

#include "pelmar/platform/foundation/internal/LineSink.h"

namespace pelmar::foundation {

LogSink LogSink::standardStreams() {
    return LogSink(std::make_shared<const internal::SinkTarget>());
}

LogSink LogSink::quiet() {
    return LogSink(nullptr);
}

LogSink LogSink::callback(Callback function) {
    if (!function) {
        return quiet();
    }
    return LogSink(std::make_shared<const internal::SinkTarget>(
            internal::SinkTarget{std::move(function)}));
}

void LogSink::set(LogSink sink) {
    internal::LineSink::instance().setTarget(std::move(sink.target_));
}

void LogSink::setLibraryLogging(bool enabled) {
    internal::LineSink::instance().setLibraryLogging(enabled);
}

bool LogSink::libraryLogging() {
    return internal::LineSink::instance().libraryLogging();
}

void LogSink::write(LogChannel channel, std::string_view line) {
    internal::LineSink::instance().write(channel, line);
}

}  // namespace pelmar::foundation
