#include "pelmar/platform/net/FileBodySource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "pelmar/platform/net/URLError.h"

namespace pelmar::net {

namespace {

Error fileReadError(int errnum, const std::filesystem::path& path) {
    std::string message =
            "cannot read " + path.string() + ": " + std::generic_category().message(errnum);
    switch (errnum) {
        case ENOENT:
        case ENOTDIR:
            return urlError(kURLErrorFileDoesNotExist, std::move(message));
        case EACCES:
        case EPERM:
            return urlError(kURLErrorNoPermissionsToReadFile, std::move(message));
        default:
            return urlError(kURLErrorUnknown, std::move(message));
    }
}

Error sizeChangedError(const std::filesystem::path& path) {
    return urlError(kURLErrorRequestBodyStreamExhausted,
                    "the size of " + path.string() + " changed while it was being sent");
}

}  // namespace

FileBodySource::FileBodySource(std::filesystem::path path) : path_(std::move(path)) {
    struct stat info {};

    if (::stat(path_.c_str(), &info) != 0) {
        statusError_ = fileReadError(errno, path_);
    } else if (!S_ISREG(info.st_mode)) {
        statusError_ = urlError(kURLErrorFileDoesNotExist, path_.string() + " is not a file");
    } else {
        size_ = info.st_size;
    }
}

FileBodySource::~FileBodySource() {
    close();
}

std::optional<Error> FileBodySource::open() {
    close();
    if (statusError_) {
        return statusError_;
    }
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fileReadError(errno, path_);
    }
    fd_ = fd;
    offset_ = 0;

    struct stat info {};

    if (::fstat(fd_, &info) != 0) {
        const int errnum = errno;
        close();
        return fileReadError(errnum, path_);
    }
    if (info.st_size != size_) {
        close();
        return sizeChangedError(path_);
    }
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::nullopt;
}

BodySource::ReadResult FileBodySource::read(std::span<char> buffer) {
    if (fd_ < 0) {
        return {0, urlError(kURLErrorUnknown, "read from a body source that is not open")};
    }
    const int64_t remaining = size_ - offset_;
    if (remaining == 0) {
        // The announced size is reached: the file must end here too.
        char extra = 0;
        ssize_t n = 0;
        do {
            n = ::read(fd_, &extra, 1);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return {0, fileReadError(errno, path_)};
        }
        return n == 0 ? ReadResult{} : ReadResult{0, sizeChangedError(path_)};
    }
    const size_t wanted = remaining < static_cast<int64_t>(buffer.size())
                                  ? static_cast<size_t>(remaining)
                                  : buffer.size();
    if (wanted == 0) {
        return {};
    }
    ssize_t n = 0;
    do {
        n = ::read(fd_, buffer.data(), wanted);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return {0, fileReadError(errno, path_)};
    }
    if (n == 0) {
        return {0, sizeChangedError(path_)};
    }
    offset_ += n;
    return {static_cast<size_t>(n), std::nullopt};
}

void FileBodySource::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace pelmar::net
