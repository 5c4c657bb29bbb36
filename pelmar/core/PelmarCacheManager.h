#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/core/PelmarEnums.h"

// PelmarCacheManager: the local file cache of downloaded media, one folder per media kind under
// Documents ("video-cache", "audio-cache", "image-cache"), each file named by its service token
// (token + ".mp4", ".aac" or ".jpg"); also checks for, removes and measures files by path, and
// trims oversized files out of a cache folder.
// Ownership: made and owned by the facade; keeps nothing but the paths it is asked about.
// Threads: thread-safe (each call is a few file-system operations; nothing is shared in memory).
// Errors: none reported: folder creation and removal failures are ignored (a failed removal ends a
//     trim pass). A token that is not safe in a file name (see internal/TokenCheck.h) gets no cache
//     path at all.
// Limits: a trim removes each file of the folder larger than kMaxCachedFileBytes; there is no limit
//     on the folder's total size.

namespace pelmar {

class PelmarCacheManager {
public:
    static constexpr uint64_t kMaxCachedFileBytes = 536870912;  // 512 MiB

    PelmarCacheManager() = default;

    // Documents + "/" + stem + "-cache", created (with missing parents) on every call; a failure
    // to create it is ignored.
    std::string getCacheDirectory(std::string_view stem) const;

    std::string getCacheDirectory(Media_Type type) const;

    // token + ".mp4" (video), ".aac" (audio) or ".jpg" (image).
    static std::string getCacheFileName(Media_Type type, std::string_view token);

    // The kind's cache folder joined with the file name; none for an unsafe token.
    std::optional<std::string> getCacheFilePath(Media_Type type, std::string_view token) const;

    // Removes the kind's oversized files ("mp4", "aac" or "jpg"), except the file `keep` (a
    // download that was just written and is being handed out).
    void trimCache(Media_Type type, const std::optional<std::string>& keep = std::nullopt) const;

    // Removes the files of `cacheDirectory` named "*." + `fileExtension` (case-sensitive) whose
    // own size is greater than kMaxCachedFileBytes, newest first (files without a creation date
    // last), except `keep`. Stops at the first removal that fails.
    void trimCache(std::string_view fileExtension,
                   const std::string& cacheDirectory,
                   const std::optional<std::string>& keep = std::nullopt) const;

    bool fileExists(const std::string& path) const;

    // Removes the file (or folder tree); errors are ignored.
    void removeFile(const std::string& path) const;

    // Seconds since 1970; none when the file system keeps no creation date for it.
    std::optional<double> getFileCreationDateWithDefaultDate(const std::string& path) const;

    std::optional<uint64_t> getFileSize(const std::string& path) const;
};

}  // namespace pelmar
