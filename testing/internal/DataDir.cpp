#include "testing/internal/DataDir.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace pelmar::test::internal {

namespace {

std::filesystem::path makeTemporaryFolder() {
    std::string pattern =
            (std::filesystem::temp_directory_path() / "pelmar-service-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary data folder");
    }
    return pattern;
}

}  // namespace

DataDir::Folder::Folder(const std::filesystem::path& given)
    : owned(given.empty()),
      path(owned ? makeTemporaryFolder() : std::filesystem::absolute(given)) {}

DataDir::Folder::~Folder() {
    if (owned) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

DataDir::DataDir(const std::filesystem::path& given) : folder_(given), state_(folder_.path) {
    for (const char* part : {"incoming", "files"}) {
        std::error_code error;
        std::filesystem::create_directories(path() / part, error);
        if (error) {
            throw std::runtime_error("cannot create the data folder " + path().string() + ": "
                                     + error.message());
        }
    }
}

std::filesystem::path DataDir::incomingFile(const std::string& uploadId) {
    return path() / "incoming" / (uploadId + "-" + std::to_string(++incomingFiles_) + ".part");
}

}  // namespace pelmar::test::internal
