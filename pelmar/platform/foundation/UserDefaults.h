#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/sync/Mutex.h"

// UserDefaults: small persistent settings of the app, a JSON object stored in <sandbox
// root>/Library/Preferences/defaults.json.
// Ownership: `standard()` lives for the whole process and follows Sandbox::root(): when the root
//     changes, the values of the new root are loaded on the next call.
// Threads: thread-safe.
// Errors: writes go to disk at once through FileManager::writeAtomically; a failed write keeps the
//     value in memory and `synchronize()` retries and reports it. A file that is not a JSON object
//     (or is larger than kMaxFileSize) reads as empty and is kept aside as defaults.json.corrupt,
//     with a line in the platform log.
// Limits: kMaxFileSize bytes on disk; values that would need more stay in memory only and
//     `synchronize()` returns false.

namespace pelmar::foundation {

class UserDefaults {
public:
    static constexpr uint64_t kMaxFileSize = 16 * 1024 * 1024;

    static UserDefaults& standard();

    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    std::optional<Json> object(std::string_view key) const;

    // The value of `key` when it is a string; std::nullopt for any other type.
    std::optional<std::string> string(std::string_view key) const;

    // A null `value` removes the key.
    void set(std::string_view key, Json value);
    void remove(std::string_view key);

    // Writes every value to disk (temporary file + rename). True when the file now holds them.
    bool synchronize();

    // The file of the current sandbox root.
    std::filesystem::path filePath() const;

private:
    UserDefaults() = default;

    void refreshLocked() const PELMAR_REQUIRES(mutex_);
    bool writeLocked() const PELMAR_REQUIRES(mutex_);

    mutable Mutex mutex_;
    mutable std::filesystem::path file_ PELMAR_GUARDED_BY(mutex_);  // the file `values_` came from
    mutable Json values_ PELMAR_GUARDED_BY(mutex_) = Json::object();
};

}  // namespace pelmar::foundation
