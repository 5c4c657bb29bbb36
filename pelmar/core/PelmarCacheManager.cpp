#include "pelmar/core/PelmarCacheManager.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "pelmar/core/Utils.h"
#include "pelmar/core/internal/TokenCheck.h"
#include "pelmar/platform/foundation/FileManager.h"

namespace pelmar {

namespace {

std::string_view extensionOf(Media_Type type) {
    switch (type) {
        case Media_Type::Video:
            return "mp4";
        case Media_Type::Audio:
            return "aac";
        case Media_Type::Image:
            return "jpg";
    }
    return "mp4";
}

}  // namespace

std::string PelmarCacheManager::getCacheDirectory(std::string_view stem) const {
    const auto folder = Utils::getDocumentsDirectory() / (std::string(stem) + "-cache");
    (void)foundation::FileManager::createDirectory(folder, /*intermediates=*/true);
    return folder.string();
}

std::string PelmarCacheManager::getCacheDirectory(Media_Type type) const {
    return getCacheDirectory(rawValue(type));
}

std::string PelmarCacheManager::getCacheFileName(Media_Type type, std::string_view token) {
    return std::string(token) + "." + std::string(extensionOf(type));
}

std::optional<std::string> PelmarCacheManager::getCacheFilePath(Media_Type type,
                                                                std::string_view token) const {
    if (!core::internal::isSafeToken(token)) {
        return std::nullopt;
    }
    return (std::filesystem::path(getCacheDirectory(type)) / getCacheFileName(type, token))
            .string();
}

void PelmarCacheManager::trimCache(Media_Type type, const std::optional<std::string>& keep) const {
    trimCache(extensionOf(type), getCacheDirectory(type), keep);
}

void PelmarCacheManager::trimCache(std::string_view fileExtension,
                                   const std::string& cacheDirectory,
                                   const std::optional<std::string>& keep) const {
    const std::string suffix = "." + std::string(fileExtension);

    struct Entry {
        std::string path;
        std::optional<double> created;
    };

    std::vector<Entry> entries;
    for (const auto& path : foundation::FileManager::contentsOfDirectory(cacheDirectory)) {
        const std::string name = path.filename().string();
        if (name.size() >= suffix.size()
            && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            entries.push_back({path.string(), getFileCreationDateWithDefaultDate(path.string())});
        }
    }
    // Newest first; files without a date after every dated one.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.created && b.created) {
            return *a.created > *b.created;
        }
        return a.created.has_value() && !b.created.has_value();
    });
    for (const Entry& entry : entries) {
        if (keep && std::filesystem::path(*keep) == std::filesystem::path(entry.path)) {
            continue;
        }
        const auto size = getFileSize(entry.path);
        if (size && *size > kMaxCachedFileBytes) {
            if (foundation::FileManager::removeItem(entry.path)) {
                return;
            }
        }
    }
}

bool PelmarCacheManager::fileExists(const std::string& path) const {
    return foundation::FileManager::fileExists(path);
}

void PelmarCacheManager::removeFile(const std::string& path) const {
    (void)foundation::FileManager::removeItem(path);
}

std::optional<double> PelmarCacheManager::getFileCreationDateWithDefaultDate(
        const std::string& path) const {
    return foundation::FileManager::creationDate(path);
}

std::optional<uint64_t> PelmarCacheManager::getFileSize(const std::string& path) const {
    return foundation::FileManager::fileSize(path);
}

}  // namespace pelmar
