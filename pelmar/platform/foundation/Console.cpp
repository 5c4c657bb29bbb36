#include "pelmar/platform/foundation/Console.h"

namespace pelmar::foundation {

void Console::print(std::string_view line) {
    LogSink::write(LogChannel::Output, line);
}

}  // namespace pelmar::foundation
