#include "testing/internal/DataDir.h"

#include <stdexcept>
#include <system_error>

namespace pelmar::test::internal {

namespace {

std::optional<TempDir> temporaryFolderUnless(const std::filesystem::path& given) {
    if (!given.empty()) {
        return std::nullopt;
    }
    return std::optional<TempDir>(std::in_place, "pelmar-service");
}

}  // namespace

DataDir::DataDir(const std::filesystem::path& given)
    : made_(temporaryFolderUnless(given)),
      path_(made_ ? made_->path() : std::filesystem::absolute(given)),
      state_(path_) {
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
