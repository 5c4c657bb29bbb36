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

DataDir::DataDir(const std::filesystem::path& given)
    : owned_(given.empty()),
      path_(owned_ ? makeTemporaryFolder() : std::filesystem::absolute(given)),
      state_(path_) {
    std::error_code error;
    std::filesystem::create_directories(path_ / "incoming", error);
    std::filesystem::create_directories(path_ / "files", error);
    if (error) {
        removeIfOwned();
        throw std::runtime_error("cannot create the data folder " + path_.string() + ": "
                                 + error.message());
    }
}

DataDir::~DataDir() {
    removeIfOwned();
}

std::filesystem::path DataDir::incomingFile(const std::string& uploadId) {
    return path_ / "incoming" / (uploadId + "-" + std::to_string(++incomingFiles_) + ".part");
}

void DataDir::removeIfOwned() const noexcept {
    if (owned_) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

}  // namespace pelmar::test::internal
