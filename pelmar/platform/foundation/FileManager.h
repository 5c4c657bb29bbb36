#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "pelmar/platform/foundation/Error.h"

// FileManager: file-system operations the SDK needs, with moves and copies that never replace an
// existing target and writes that are atomic.
// Ownership: static functions; arguments are paths, nothing is kept.
// Threads: thread-safe (as safe as the file system itself is against other writers).
// Errors: std::optional<Error> in kFileErrorDomain, code = errno, message "<what failed>:
//     <strerror>", for example "cannot move a to b: File exists". Queries return std::nullopt /
//     false.

namespace pelmar::foundation {

class FileManager {
public:
    FileManager() = delete;

    // Renames `from` to `to`; fails with EEXIST when `to` exists (also as a dangling symlink).
    // Across file systems it copies and then removes the source; when the copy or the removal of
    // a source file fails, the source stays and no partial copy is left behind. A source folder
    // that can be removed only in part keeps its complete copy at `to` and the move reports the
    // error: dropping the copy as well would lose data.
    [[nodiscard]] static std::optional<Error> moveItem(const std::filesystem::path& from,
                                                       const std::filesystem::path& to);

    // Copies a file, a symlink (as a link) or a directory tree; fails with EEXIST when `to`
    // exists. A failed copy removes what it created.
    [[nodiscard]] static std::optional<Error> copyItem(const std::filesystem::path& from,
                                                       const std::filesystem::path& to);

    // Removes a file, a symlink (not its target) or a whole directory tree.
    [[nodiscard]] static std::optional<Error> removeItem(const std::filesystem::path& path);

    // True when `path` names something (symlinks are followed).
    static bool fileExists(const std::filesystem::path& path);

    // Size in bytes of a regular file (symlinks followed); std::nullopt for anything else.
    static std::optional<uint64_t> fileSize(const std::filesystem::path& path);

    // Birth time in seconds since 1970-01-01 UTC; std::nullopt when the file system records none.
    static std::optional<double> creationDate(const std::filesystem::path& path);

    // With `intermediates`, creates missing parents and accepts an existing directory; without,
    // fails when the folder or its parent is missing or the folder exists.
    [[nodiscard]] static std::optional<Error> createDirectory(const std::filesystem::path& path,
                                                              bool intermediates);

    // Full paths of the entries of `path`, sorted by name. On failure returns an empty list and
    // stores the error in `*error` when given.
    static std::vector<std::filesystem::path> contentsOfDirectory(
            const std::filesystem::path& path, std::optional<Error>* error = nullptr);

    // Who may read and write a file that writeAtomically makes.
    enum class Access {
        // A new file gets rw for everyone the process's umask allows (0666 less the umask); a
        // file being replaced keeps its permissions.
        Default,
        // rw for the owner only (0600), new or replaced: for logs and reports.
        OwnerOnly,
    };

    // Replaces `path` with `bytes` through a temporary file in the same folder, flushed to disk
    // and renamed over the target: readers see the old or the new content, never a mix.
    [[nodiscard]] static std::optional<Error> writeAtomically(const std::filesystem::path& path,
                                                              std::string_view bytes,
                                                              Access access = Access::Default);
    [[nodiscard]] static std::optional<Error> writeAtomically(const std::filesystem::path& path,
                                                              std::span<const uint8_t> bytes,
                                                              Access access = Access::Default);
};

}  // namespace pelmar::foundation
