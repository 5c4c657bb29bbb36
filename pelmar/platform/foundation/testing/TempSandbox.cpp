#include "pelmar/platform/foundation/testing/TempSandbox.h"

#include <stdlib.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace pelmar::test {

TempSandbox::TempSandbox() : previous_(foundation::Sandbox::settings()) {
    std::string templ = (std::filesystem::temp_directory_path() / "pelmar-sandbox-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        throw std::filesystem::filesystem_error("cannot create a temporary sandbox", templ,
                                                std::error_code(errno, std::generic_category()));
    }
    root_ = templ;
    foundation::Sandbox::Settings fresh;
    fresh.root = root_;
    fresh.appIdentifier = previous_.appIdentifier;
    foundation::Sandbox::restore(std::move(fresh));
}

TempSandbox::~TempSandbox() {
    foundation::Sandbox::restore(previous_);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

}  // namespace pelmar::test
