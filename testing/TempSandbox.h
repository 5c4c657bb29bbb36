#pragma once

#include <filesystem>

#include "pelmar/platform/foundation/Sandbox.h"
#include "testing/TempDir.h"

// TempSandbox: gives a test a fresh, empty sandbox root for its lifetime.
// Ownership: RAII; the constructor makes a TempDir and makes it Sandbox::root() with no app
//            groups registered; the destructor puts back the previous Sandbox settings and removes
//            the folder with everything in it.
// Threads: thread-compatible; meant for one test at a time per process.
// Errors: throws std::filesystem::filesystem_error when the folder cannot be created.

namespace pelmar::test {

class TempSandbox {
public:
    TempSandbox();
    ~TempSandbox();
    TempSandbox(const TempSandbox&) = delete;
    TempSandbox& operator=(const TempSandbox&) = delete;

    const std::filesystem::path& root() const { return folder_.path(); }

private:
    foundation::Sandbox::Settings previous_;
    TempDir folder_{"pelmar-sandbox"};
};

}  // namespace pelmar::test
