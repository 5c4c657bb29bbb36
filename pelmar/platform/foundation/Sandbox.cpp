#include "pelmar/platform/foundation/Sandbox.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::foundation {

namespace {

constexpr std::string_view kDefaultAppIdentifier = "pelmar-app";

struct State {
    Mutex mutex;
    Sandbox::Settings settings PELMAR_GUARDED_BY(mutex);
};

State& state() {
    static State* instance = [] {
        auto* s = new State;  // never destroyed: usable from static destructors of other units
        MutexLock lock(s->mutex);
        s->settings.appIdentifier = std::string(kDefaultAppIdentifier);
        return s;
    }();
    return *instance;
}

bool isSingleFolderName(std::string_view name) {
    return !name.empty() && name != "." && name != ".."
           && name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr
        && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    std::error_code ec;
    return std::filesystem::temp_directory_path(ec);
}

std::filesystem::path defaultRoot(const std::string& appIdentifier) {
    // Relative XDG_DATA_HOME values are invalid by the XDG rules and are ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        return std::filesystem::path(xdg) / "pelmar" / appIdentifier;
    }
    return homeDirectory() / ".local" / "share" / "pelmar" / appIdentifier;
}

std::filesystem::path createdFolder(std::filesystem::path folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder;
}

}  // namespace

void Sandbox::setRoot(const std::filesystem::path& root) {
    std::filesystem::path absolute = root;
    if (!root.empty()) {
        std::error_code ec;
        absolute = std::filesystem::absolute(root, ec);
        if (ec) {
            absolute = root;
        }
    }
    State& s = state();
    MutexLock lock(s.mutex);
    s.settings.root = absolute.lexically_normal();
}

std::filesystem::path Sandbox::root() {
    State& s = state();
    MutexLock lock(s.mutex);
    if (!s.settings.root.empty()) {
        return s.settings.root;
    }
    return defaultRoot(s.settings.appIdentifier);
}

bool Sandbox::setAppIdentifier(std::string_view appIdentifier) {
    if (!isSingleFolderName(appIdentifier)) {
        return false;
    }
    State& s = state();
    MutexLock lock(s.mutex);
    s.settings.appIdentifier = std::string(appIdentifier);
    return true;
}

std::string Sandbox::appIdentifier() {
    State& s = state();
    MutexLock lock(s.mutex);
    return s.settings.appIdentifier;
}

std::filesystem::path Sandbox::documentsDirectory() {
    return createdFolder(root() / "Documents");
}

std::filesystem::path Sandbox::temporaryDirectory() {
    return createdFolder(root() / "tmp");
}

std::filesystem::path Sandbox::cachesDirectory() {
    return createdFolder(root() / "Library" / "Caches");
}

std::filesystem::path Sandbox::preferencesDirectory() {
    return createdFolder(root() / "Library" / "Preferences");
}

bool Sandbox::registerAppGroup(std::string_view group) {
    if (!isSingleFolderName(group)) {
        return false;
    }
    State& s = state();
    MutexLock lock(s.mutex);
    s.settings.appGroups.emplace(group);
    return true;
}

std::optional<std::filesystem::path> Sandbox::containerForAppGroup(std::string_view group) {
    {
        State& s = state();
        MutexLock lock(s.mutex);
        if (s.settings.appGroups.find(group) == s.settings.appGroups.end()) {
            return std::nullopt;
        }
    }
    return root() / "AppGroups" / std::string(group);
}

Sandbox::Settings Sandbox::settings() {
    State& s = state();
    MutexLock lock(s.mutex);
    return s.settings;
}

void Sandbox::restore(Settings settings) {
    State& s = state();
    MutexLock lock(s.mutex);
    s.settings = std::move(settings);
}

}  // namespace pelmar::foundation
