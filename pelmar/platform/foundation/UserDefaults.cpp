#include "pelmar/platform/foundation/UserDefaults.h"

#include <fstream>
#include <iterator>

#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/Sandbox.h"

namespace pelmar::foundation {

namespace {

namespace fs = std::filesystem;

std::optional<Json> readObject(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > UserDefaults::kMaxFileSize) {
            return std::nullopt;
        }
    }
    Json parsed = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_object()) {
        return std::nullopt;
    }
    return parsed;
}

}  // namespace

UserDefaults& UserDefaults::standard() {
    // Never destroyed, so code running during exit can still read settings.
    static auto* instance = new UserDefaults();
    return *instance;
}

fs::path UserDefaults::filePath() const {
    return Sandbox::root() / "Library" / "Preferences" / "defaults.json";
}

void UserDefaults::refreshLocked() const {
    const fs::path file = filePath();
    if (file == file_) {
        return;
    }
    file_ = file;
    values_ = Json::object();
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        return;
    }
    if (auto loaded = readObject(file)) {
        values_ = std::move(*loaded);
        return;
    }
    // Keep the unreadable file for inspection instead of overwriting it on the next write.
    fs::path aside = file;
    aside += ".corrupt";
    fs::rename(file, aside, ec);
    Log::write("UserDefaults: ignoring unreadable " + file.string()
               + (ec ? std::string() : ", kept as " + aside.string()));
}

bool UserDefaults::writeLocked() const {
    std::error_code ec;
    fs::create_directories(file_.parent_path(), ec);
    // Invalid UTF-8 in a string value is replaced rather than making the whole write fail.
    const std::string text = values_.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    if (text.size() > kMaxFileSize) {
        // Larger than a later load accepts: keep the values in memory rather than write a file
        // that would read back as unreadable.
        Log::write("UserDefaults: values exceed " + std::to_string(kMaxFileSize)
                   + " bytes, not written to " + file_.string());
        return false;
    }
    if (auto error = FileManager::writeAtomically(file_, text)) {
        Log::write("UserDefaults: " + error->description());
        return false;
    }
    return true;
}

std::optional<Json> UserDefaults::object(std::string_view key) const {
    MutexLock lock(mutex_);
    refreshLocked();
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return *it;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    MutexLock lock(mutex_);
    refreshLocked();
    auto it = values_.find(key);
    if (it == values_.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

void UserDefaults::set(std::string_view key, Json value) {
    if (value.is_null()) {
        remove(key);
        return;
    }
    MutexLock lock(mutex_);
    refreshLocked();
    values_[std::string(key)] = std::move(value);
    writeLocked();
}

void UserDefaults::remove(std::string_view key) {
    MutexLock lock(mutex_);
    refreshLocked();
    if (values_.erase(std::string(key)) > 0) {
        writeLocked();
    }
}

bool UserDefaults::synchronize() {
    MutexLock lock(mutex_);
    refreshLocked();
    return writeLocked();
}

}  // namespace pelmar::foundation
