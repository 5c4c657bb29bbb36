#include "pelmar/platform/foundation/Log.h"

namespace pelmar::foundation {

void Log::write(std::string_view line) {
    LogSink::write(LogChannel::Diagnostic, line);
}

}  // namespace pelmar::foundation
