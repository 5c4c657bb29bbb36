#pragma once

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

// TempDir: a fresh, empty folder under the system temp folder for one test, removed with
// everything in it when the object goes.
// Ownership: owns the folder.
// Threads: thread-compatible.
// Errors: the constructor throws std::filesystem::filesystem_error when the folder cannot be made.

namespace pelmar::test {

class TempDir {
public:
    // The folder is named "<prefix>-" and six random characters.
    explicit TempDir(std::string_view prefix = "pelmar") {
        std::string pattern =
                (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX"))
                        .string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::filesystem::filesystem_error(
                    "cannot create a temporary folder", pattern,
                    std::error_code(errno, std::generic_category()));
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
