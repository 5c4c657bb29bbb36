#include "pelmar/core/PelmarConfig.h"

#include <string_view>
#include <utility>

namespace pelmar {
namespace {

// Set by the build (see pelmar/core/CMakeLists.txt).
constexpr const char* kDefaultServerApiUrl = PELMAR_DEFAULT_SERVER_API_URL;
constexpr const char* kDefaultCdnApiUrl = PELMAR_DEFAULT_CDN_API_URL;
constexpr const char* kDefaultDevServerApiUrl = PELMAR_DEFAULT_DEV_SERVER_API_URL;
constexpr const char* kSecondServerApiUrl = PELMAR_SECOND_SERVER_API_URL;
constexpr const char* kSecondCdnApiUrl = PELMAR_SECOND_CDN_API_URL;
constexpr const char* kSecondDevServerApiUrl = PELMAR_SECOND_DEV_SERVER_API_URL;
constexpr const char* kFileServerUrl = PELMAR_FILE_SERVER_URL;

constexpr std::string_view kSecondRegionPrefix = "r1";

}  // namespace

PelmarConfig::PelmarConfig(const std::string& token)
    : serverAPIUrl_(kDefaultServerApiUrl),
      cdnAPIUrl_(kDefaultCdnApiUrl),
      devServerApiUrl_(kDefaultDevServerApiUrl),
      fileServerUrl_(kFileServerUrl),
      supportEmailAddress_(PELMAR_SUPPORT_EMAIL) {
    if (token.starts_with(kSecondRegionPrefix)) {
        serverAPIUrl_ = kSecondServerApiUrl;
        cdnAPIUrl_ = kSecondCdnApiUrl;
        devServerApiUrl_ = kSecondDevServerApiUrl;
    }
}

std::string PelmarConfig::serverAPIUrl() const {
    MutexLock lock(mutex_);
    return serverAPIUrl_;
}

std::string PelmarConfig::cdnAPIUrl() const {
    MutexLock lock(mutex_);
    return cdnAPIUrl_;
}

std::string PelmarConfig::devServerApiUrl() const {
    MutexLock lock(mutex_);
    return devServerApiUrl_;
}

std::string PelmarConfig::fileServerUrl() const {
    MutexLock lock(mutex_);
    return fileServerUrl_;
}

void PelmarConfig::setServerAPIUrl(std::string url) {
    MutexLock lock(mutex_);
    serverAPIUrl_ = std::move(url);
}

void PelmarConfig::setCdnAPIUrl(std::string url) {
    MutexLock lock(mutex_);
    cdnAPIUrl_ = std::move(url);
}

void PelmarConfig::setDevServerApiUrl(std::string url) {
    MutexLock lock(mutex_);
    devServerApiUrl_ = std::move(url);
}

void PelmarConfig::setFileServerUrl(std::string url) {
    MutexLock lock(mutex_);
    fileServerUrl_ = std::move(url);
}

std::string PelmarConfig::supportEmailAddress() const {
    MutexLock lock(mutex_);
    return supportEmailAddress_;
}

void PelmarConfig::setSupportEmailAddress(std::string address) {
    MutexLock lock(mutex_);
    supportEmailAddress_ = std::move(address);
}

}  // namespace pelmar
