#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

// UniqueFd: owns a POSIX file descriptor and closes it once.
// Ownership: move-only; the descriptor is closed by the destructor or `close()`.
// Threads: thread-compatible.
// Errors: `close()` returns the errno of a failed close (0 on success); the destructor ignores it.

namespace pelmar::foundation::internal {

class UniqueFd {
public:
    UniqueFd() = default;

    explicit UniqueFd(int fd) : fd_(fd) {}

    ~UniqueFd() { close(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }

    bool valid() const { return fd_ >= 0; }

    int close() {
        if (fd_ < 0) {
            return 0;
        }
        // Linux releases the descriptor even when close fails, so it is never retried.
        const int result = ::close(std::exchange(fd_, -1));
        return result == 0 ? 0 : errno;
    }

private:
    int fd_ = -1;
};

}  // namespace pelmar::foundation::internal
