#include "testing/TempSandbox.h"

#include <utility>

namespace pelmar::test {

TempSandbox::TempSandbox() : previous_(foundation::Sandbox::settings()) {
    foundation::Sandbox::Settings fresh;
    fresh.root = folder_.path();
    fresh.appIdentifier = previous_.appIdentifier;
    foundation::Sandbox::restore(std::move(fresh));
}

TempSandbox::~TempSandbox() {
    foundation::Sandbox::restore(previous_);
}

}  // namespace pelmar::test
