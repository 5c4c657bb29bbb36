#pragma once

// TempSandbox: gives a test a fresh, empty sandbox root for its lifetime.
// Ownership: RAII; the constructor creates a folder under the system temp directory and makes it
//            Sandbox::root() with no app groups registered; the destructor puts back the previous
//            Sandbox settings and removes the folder with everything in it.
// Threads: thread-compatible; meant for one test at a time per process.
// Errors: throws std::filesystem::filesystem_error when the folder cannot be created.

#include <filesystem>

#include "pelmar/platform/foundation/Sandbox.h"

namespace pelmar::test {

class TempSandbox {
public:
    TempSandbox();
    ~TempSandbox();
    TempSandbox(const TempSandbox&) = delete;
    TempSandbox& operator=(const TempSandbox&) = delete;

    const std::filesystem::path& root() const { return root_; }

private:
    foundation::Sandbox::Settings previous_;
    std::filesystem::path root_;
};

}  // namespace pelmar::test
