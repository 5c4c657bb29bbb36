#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/imageloader/PelmarRemoteImageBasicCache.h"

namespace pelmar {

// PelmarRemoteImageDiskCache: the basic cache's memory tier plus a persistent tier of one file
// per key in a folder, so that encoded images (and resume records) outlive the manager and the
// process. A host hands it to the image manager in place of the default cache.
// Ownership: made by create() and held by shared_ptr; owns nothing but its files.
// Threads: thread-safe. Each file is written to a temporary name and renamed, so a reader sees
//     either the old bytes or the new ones, never a half-written file.
// Errors: none reported; a file that cannot be written or read counts as absent.
class PelmarRemoteImageDiskCache : public PelmarRemoteImageBasicCache {
public:
    // Makes `directory` when it is missing.
    static std::shared_ptr<PelmarRemoteImageDiskCache> create(
            std::filesystem::path directory, uint64_t totalCostLimit = defaultTotalCostLimit());

    const std::filesystem::path& directory() const { return directory_; }

    std::optional<std::string> objectFromDiskForKey(const std::string& key) override;

    void objectFromDiskForKey(const std::string& key,
                              PelmarCacheDiskCompletion completion) override;

    void setObjectOnDisk(std::string object, const std::string& key) override;

    bool objectExistsForKey(const std::string& key) override;

    void removeObjectForKey(const std::string& key) override;

    void removeObjectForKey(const std::string& key, PelmarCacheDiskCompletion completion) override;

    void removeAllObjects() override;

private:
    PelmarRemoteImageDiskCache(std::filesystem::path directory, uint64_t totalCostLimit);

    // The file of a key: its MD5, so that any key makes a safe file name.
    std::filesystem::path pathForKey(const std::string& key) const;

    const std::filesystem::path directory_;
};

}  // namespace pelmar
