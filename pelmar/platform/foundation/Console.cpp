#include "pelmar/platform/foundation/Console.h"

#include <algorithm>

#include "pelmar/platform/foundation/internal/LineSink.h"

namespace pelmar::foundation {

namespace {

internal::LineSink& sink() {
    // Never destroyed, so lines written from static destructors still have somewhere to go.
    static auto* instance = new internal::LineSink(stdout);
    return *instance;
}

}  // namespace

void Console::print(std::string_view line) {
    sink().write(line);
}

Console::Capture::Capture() : recorder_(std::make_shared<internal::LineRecorder>()) {
    sink().attach(recorder_);
}

Console::Capture::~Capture() {
    sink().detach(recorder_);
}

std::vector<std::string> Console::Capture::lines() const {
    return recorder_->lines();
}

bool Console::Capture::contains(std::string_view text) const {
    const auto recorded = recorder_->lines();
    return std::any_of(recorded.begin(), recorded.end(), [&](const std::string& line) {
        return line.find(text) != std::string::npos;
    });
}

void Console::Capture::clear() {
    recorder_->clear();
}

}  // namespace pelmar::foundation
