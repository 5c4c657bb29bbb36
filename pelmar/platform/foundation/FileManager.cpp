#include "pelmar/platform/foundation/FileManager.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

#include "pelmar/platform/foundation/internal/UniqueFd.h"

namespace pelmar::foundation {

namespace {

namespace fs = std::filesystem;
using internal::UniqueFd;

std::string quoted(const fs::path& from, const fs::path& to) {
    return from.string() + " to " + to.string();
}

bool lexists(const fs::path& path) {
    struct stat st {};

    return ::lstat(path.c_str(), &st) == 0;
}

// Writes all of `size` bytes, retrying short writes and interrupts. Returns 0 or errno.
int writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

int copyBytes(int in, int out) {
    bool useCopyFileRange = true;
    std::array<char, 65536> buffer{};
    for (;;) {
        if (useCopyFileRange) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
            if (n > 0) {
                continue;
            }
            if (n == 0) {
                return 0;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP
                && errno != EPERM) {
                return errno;
            }
            // Not supported between these descriptors: plain reads and writes from here on.
            useCopyFileRange = false;
        }
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return 0;
        }
        if (const int err = writeAll(out, buffer.data(), static_cast<size_t>(n)); err != 0) {
            return err;
        }
    }
}

int copyFile(const fs::path& from, const fs::path& to, mode_t mode) {
    UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid()) {
        return errno;
    }
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777));
    if (!out.valid()) {
        return errno;
    }
    int err = copyBytes(in.get(), out.get());
    if (const int closeErr = out.close(); err == 0) {
        err = closeErr;
    }
    if (err != 0) {
        ::unlink(to.c_str());  // only ever the file this call created (O_EXCL)
    }
    return err;
}

int copyTree(const fs::path& from, const fs::path& to);

int copyDirectory(const fs::path& from, const fs::path& to, mode_t mode) {
    if (::mkdir(to.c_str(), (mode & 07777) | S_IRWXU) != 0) {
        return errno;
    }
    std::error_code ec;
    int err = 0;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
        err = copyTree(it->path(), to / it->path().filename());
        if (err != 0) {
            break;
        }
    }
    if (err == 0 && ec) {
        err = ec.value();
    }
    if (err != 0) {
        fs::remove_all(to, ec);  // the folder was created above, so it is ours to remove
    }
    return err;
}

int copySymlink(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(from, ec);
    if (ec) {
        return ec.value();
    }
    return ::symlink(target.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int copyTree(const fs::path& from, const fs::path& to) {
    struct stat st {};

    if (::lstat(from.c_str(), &st) != 0) {
        return errno;
    }
    if (S_ISREG(st.st_mode)) {
        return copyFile(from, to, st.st_mode);
    }
    if (S_ISDIR(st.st_mode)) {
        return copyDirectory(from, to, st.st_mode);
    }
    if (S_ISLNK(st.st_mode)) {
        return copySymlink(from, to);
    }
    return ENOTSUP;  // devices, sockets and pipes are not copied
}

// Move for file systems without RENAME_NOREPLACE: a hard link refuses an existing target
// atomically; directories (which cannot be linked) are checked first and then renamed.
int moveWithoutNoReplace(const fs::path& from, const fs::path& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) != 0) {
            const int err = errno;
            ::unlink(to.c_str());
            return err;
        }
        return 0;
    }
    const int linkErr = errno;
    if (linkErr != EPERM && linkErr != ENOTSUP && linkErr != EMLINK) {
        return linkErr;
    }
    if (lexists(to)) {
        return EEXIST;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// True when `inner` is `outer` or lies below it, after resolving symlinks of what exists.
bool isWithin(const fs::path& inner, const fs::path& outer) {
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(inner, ec);
    const fs::path b = ec ? fs::path() : fs::weakly_canonical(outer, ec);
    if (ec) {
        return false;
    }
    auto [aEnd, bEnd] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return bEnd == b.end();
}

int moveAcrossDevices(const fs::path& from, const fs::path& to) {
    struct stat st {};

    if (::lstat(from.c_str(), &st) != 0) {
        return errno;
    }
    if (S_ISDIR(st.st_mode) && isWithin(to, from)) {
        return EINVAL;
    }
    if (const int err = copyTree(from, to); err != 0) {
        return err;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(from.c_str()) != 0) {
            const int err = errno;
            ::unlink(to.c_str());  // the source is intact, so the copy goes
            return err;
        }
        return 0;
    }
    std::error_code ec;
    fs::remove_all(from, ec);
    // A half-removed source tree keeps the complete copy: removing it too would lose data.
    return ec ? ec.value() : 0;
}

// Creates a new file beside `path` ("." + its name + "." + six random characters) with
// `mode`, which the kernel narrows by the umask. Returns the descriptor or -1 with errno set.
int createTemporaryBeside(const fs::path& path, mode_t mode, std::string& created) {
    static constexpr std::string_view kLetters =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix) {
            c = kLetters[random() % kLetters.size()];
        }
        created = (folder / ("." + path.filename().string() + "." + suffix)).string();
        const int fd = ::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

int writeFileAtomically(const fs::path& path,
                        const char* data,
                        size_t size,
                        FileManager::Access access) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const bool ownerOnly = access == FileManager::Access::OwnerOnly;
    std::string templ;
    UniqueFd fd(createTemporaryBeside(path, ownerOnly ? 0600 : 0666, templ));
    if (!fd.valid()) {
        return errno;
    }

    // A file being replaced keeps its permissions (unless it must be the owner's only); a new
    // one has what the umask left of the mode it was created with.
    struct stat st {};

    const bool replacing = !ownerOnly && ::stat(path.c_str(), &st) == 0;
    int err = writeAll(fd.get(), data, size);
    if (err == 0 && replacing && ::fchmod(fd.get(), st.st_mode & 07777) != 0) {
        err = errno;
    }
    if (err == 0 && ::fsync(fd.get()) != 0) {
        err = errno;
    }
    if (const int closeErr = fd.close(); err == 0) {
        err = closeErr;
    }
    if (err == 0 && ::rename(templ.c_str(), path.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(templ.c_str());
        return err;
    }
    // Make the rename itself durable; a failure here leaves the new content in place.
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) {
        ::fsync(dir.get());
    }
    return 0;
}

}  // namespace

std::optional<Error> FileManager::moveItem(const fs::path& from, const fs::path& to) {
    int err = 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        err = errno;
        if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
            // EINVAL also means "into its own subfolder"; the fallback's rename reports that too.
            err = moveWithoutNoReplace(from, to);
        }
        if (err == EXDEV) {
            err = moveAcrossDevices(from, to);
        }
    }
    if (err != 0) {
        return fileError(err, "cannot move " + quoted(from, to));
    }
    return std::nullopt;
}

std::optional<Error> FileManager::copyItem(const fs::path& from, const fs::path& to) {
    // A folder copied into itself would copy its own copy again and again.
    const int err = fs::is_directory(fs::symlink_status(from)) && isWithin(to, from)
                            ? EINVAL
                            : copyTree(from, to);
    if (err != 0) {
        return fileError(err, "cannot copy " + quoted(from, to));
    }
    return std::nullopt;
}

std::optional<Error> FileManager::removeItem(const fs::path& path) {
    const std::string what = "cannot remove " + path.string();
    if (!lexists(path)) {
        return fileError(errno, what);
    }
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) {
        return fileError(ec.value(), what);
    }
    return std::nullopt;
}

bool FileManager::fileExists(const fs::path& path) {
    struct stat st {};

    return ::stat(path.c_str(), &st) == 0;
}

std::optional<uint64_t> FileManager::fileSize(const fs::path& path) {
    struct stat st {};

    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

std::optional<double> FileManager::creationDate(const fs::path& path) {
    struct statx stx {};

    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &stx) != 0
        || (stx.stx_mask & STATX_BTIME) == 0) {
        return std::nullopt;
    }
    return static_cast<double>(stx.stx_btime.tv_sec)
           + static_cast<double>(stx.stx_btime.tv_nsec) / 1e9;
}

std::optional<Error> FileManager::createDirectory(const fs::path& path, bool intermediates) {
    const std::string what = "cannot create directory " + path.string();
    if (!intermediates) {
        if (::mkdir(path.c_str(), 0777) != 0) {
            return fileError(errno, what);
        }
        return std::nullopt;
    }
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) {
        return fileError(ec.value(), what);
    }
    if (!fs::is_directory(path, ec)) {
        return fileError(EEXIST, what);  // something else already has that name
    }
    return std::nullopt;
}

std::vector<fs::path> FileManager::contentsOfDirectory(const fs::path& path,
                                                       std::optional<Error>* error) {
    std::vector<fs::path> entries;
    std::error_code ec;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    if (ec) {
        if (error != nullptr) {
            *error = fileError(ec.value(), "cannot list directory " + path.string());
        }
        return {};
    }
    if (error != nullptr) {
        error->reset();
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::optional<Error> FileManager::writeAtomically(const fs::path& path,
                                                  std::string_view bytes,
                                                  Access access) {
    if (const int err = writeFileAtomically(path, bytes.data(), bytes.size(), access); err != 0) {
        return fileError(err, "cannot write " + path.string());
    }
    return std::nullopt;
}

std::optional<Error> FileManager::writeAtomically(const fs::path& path,
                                                  std::span<const uint8_t> bytes,
                                                  Access access) {
    return writeAtomically(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
            access);
}

}  // namespace pelmar::foundation
