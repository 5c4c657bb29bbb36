#pragma once

#include <mutex>
#include <string>

#include "pelmar/platform/sync/Mutex.h"

// PelmarConfig: the four base URLs of the hosting service for the application's region.
// Ownership: reference object owned by the facade.
// Threads: thread-safe; each field can be replaced at any time (tests point the SDK at a local
//     service this way) and readers take the field anew for every URL they build.
// Errors: none.

namespace pelmar {

class PelmarConfig {
public:
    // The host names are build-time settings (CMake cache variables PELMAR_*_URL). A `token` that
    // begins with "r1" selects the second region for the three embed/regional bases; the media file
    // server is the same in both regions.
    explicit PelmarConfig(const std::string& token);

    PelmarConfig(const PelmarConfig&) = delete;
    PelmarConfig& operator=(const PelmarConfig&) = delete;

    // Base URLs: absolute, without a trailing "/". `devServerApiUrl` ends with "/embed".
    std::string serverAPIUrl() const;
    std::string cdnAPIUrl() const;
    std::string devServerApiUrl() const;
    std::string fileServerUrl() const;

    void setServerAPIUrl(std::string url);
    void setCdnAPIUrl(std::string url);
    void setDevServerApiUrl(std::string url);
    void setFileServerUrl(std::string url);

    // The one recipient of support mail (build setting PELMAR_SUPPORT_EMAIL).
    std::string supportEmailAddress() const;

    void setSupportEmailAddress(std::string address);

private:
    mutable Mutex mutex_;
    std::string serverAPIUrl_ PELMAR_GUARDED_BY(mutex_);
    std::string cdnAPIUrl_ PELMAR_GUARDED_BY(mutex_);
    std::string devServerApiUrl_ PELMAR_GUARDED_BY(mutex_);
    std::string fileServerUrl_ PELMAR_GUARDED_BY(mutex_);
    std::string supportEmailAddress_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar
