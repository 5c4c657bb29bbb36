#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

// TempDir: a fresh folder under the system temp folder for one test, removed with everything in
// it when the object goes.
// Ownership: owns the folder.
// Threads: thread-compatible.
// Errors: std::runtime_error when the folder cannot be made.

namespace pelmar::test {

class TempDir {
public:
    TempDir() {
        std::string pattern =
                (std::filesystem::temp_directory_path() / "pelmar-live-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("can't make a temp folder");
        }
        path_ = pattern;
    }

    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace pelmar::test
