#pragma once

#include <filesystem>
#include <optional>

#include "pelmar/platform/net/BodySource.h"

// FileBodySource: streams a local file as a request body. The size is taken when the source is
// made; a file that is missing or unreadable, or that is shorter or longer when it is sent, fails
// the read instead of sending a body of the wrong length.
// Ownership: made with std::make_shared; owns the file descriptor between open() and close().
// Threads: thread-compatible.
// Errors: kURLErrorFileDoesNotExist, kURLErrorNoPermissionsToReadFile, kURLErrorUnknown (other
//     read errors), kURLErrorRequestBodyStreamExhausted (the file changed size).

namespace pelmar::net {

class FileBodySource : public BodySource {
public:
    explicit FileBodySource(std::filesystem::path path);
    ~FileBodySource() override;

    FileBodySource(const FileBodySource&) = delete;
    FileBodySource& operator=(const FileBodySource&) = delete;

    // 0 when the file could not be examined (statusError() then says why).
    int64_t size() const override { return size_; }

    // Why the file could not be examined when the source was made, if it could not.
    const std::optional<Error>& statusError() const { return statusError_; }

    const std::filesystem::path& path() const { return path_; }

    std::optional<Error> open() override;

    ReadResult read(std::span<char> buffer) override;

    void close() override;

private:
    std::filesystem::path path_;
    int64_t size_ = 0;
    std::optional<Error> statusError_;
    int fd_ = -1;
    int64_t offset_ = 0;
};

}  // namespace pelmar::net
