#pragma once

#include <filesystem>
#include <system_error>
#include <vector>

#include "pelmar/platform/foundation/Sandbox.h"

// What the camera screens leave in the sandbox's temporary folder, for tests that check a
// recording tidies up after itself. Threads: any thread. Errors: a missing folder holds nothing.

namespace pelmar::test {

inline std::vector<std::filesystem::path> temporaryFiles() {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(foundation::Sandbox::temporaryDirectory(), ec)) {
        files.push_back(entry.path());
    }
    return files;
}

}  // namespace pelmar::test
