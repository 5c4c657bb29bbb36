#include "pelmar/imageloader/PelmarRemoteImageDiskCache.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <system_error>

#include "pelmar/imageloader/PelmarRemoteImageCacheKeys.h"

namespace pelmar {
namespace {

constexpr std::string_view kFileSuffix = ".cache";

}  // namespace

std::shared_ptr<PelmarRemoteImageDiskCache> PelmarRemoteImageDiskCache::create(
        std::filesystem::path directory, uint64_t totalCostLimit) {
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    std::shared_ptr<PelmarRemoteImageDiskCache> cache(
            new PelmarRemoteImageDiskCache(std::move(directory), totalCostLimit));
    cache->observeMemoryWarnings();
    return cache;
}

PelmarRemoteImageDiskCache::PelmarRemoteImageDiskCache(std::filesystem::path directory,
                                                       uint64_t totalCostLimit)
    : PelmarRemoteImageBasicCache(totalCostLimit), directory_(std::move(directory)) {}

std::filesystem::path PelmarRemoteImageDiskCache::pathForKey(const std::string& key) const {
    return directory_ / (PelmarRemoteImageCacheKeys::md5Hex(key) + std::string(kFileSuffix));
}

std::optional<std::string> PelmarRemoteImageDiskCache::objectFromDiskForKey(
        const std::string& key) {
    std::ifstream file(pathForKey(key), std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        return std::nullopt;
    }
    return bytes;
}

void PelmarRemoteImageDiskCache::objectFromDiskForKey(const std::string& key,
                                                      PelmarCacheDiskCompletion completion) {
    completeLater(std::move(completion), key, objectFromDiskForKey(key));
}

void PelmarRemoteImageDiskCache::setObjectOnDisk(std::string object, const std::string& key) {
    static std::atomic<uint64_t> serial{0};
    const auto path = pathForKey(key);
    auto temporary = path;
    temporary += ".tmp" + std::to_string(serial.fetch_add(1));
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(object.data(), static_cast<std::streamsize>(object.size()));
        if (!file.flush()) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, error);
    }
}

bool PelmarRemoteImageDiskCache::objectExistsForKey(const std::string& key) {
    std::error_code ignored;
    return PelmarRemoteImageBasicCache::objectExistsForKey(key)
           || std::filesystem::is_regular_file(pathForKey(key), ignored);
}

void PelmarRemoteImageDiskCache::removeObjectForKey(const std::string& key) {
    PelmarRemoteImageBasicCache::removeObjectForKey(key);
    std::error_code ignored;
    std::filesystem::remove(pathForKey(key), ignored);
}

void PelmarRemoteImageDiskCache::removeObjectForKey(const std::string& key,
                                                    PelmarCacheDiskCompletion completion) {
    auto removed = objectFromDiskForKey(key);
    removeObjectForKey(key);
    completeLater(std::move(completion), key, std::move(removed));
}

void PelmarRemoteImageDiskCache::removeAllObjects() {
    PelmarRemoteImageBasicCache::removeAllObjects();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
        if (entry.path().extension() == kFileSuffix) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

}  // namespace pelmar
