#include "pelmar/platform/foundation/LogCapture.h"

#include "pelmar/platform/foundation/internal/LineSink.h"

namespace pelmar::foundation {

LogCapture::LogCapture(LogChannel channel) : recorder_(std::make_shared<internal::LineRecorder>()) {
    internal::LineSink::instance().attach(channel, recorder_);
}

LogCapture::~LogCapture() {
    internal::LineSink::instance().detach(recorder_);
}

std::vector<std::string> LogCapture::lines() const {
    return recorder_->lines();
}

bool LogCapture::contains(std::string_view text) const {
    return recorder_->contains(text);
}

void LogCapture::clear() {
    recorder_->clear();
}

}  // namespace pelmar::foundation
