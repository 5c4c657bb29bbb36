#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

// Sandbox: the app's folders (Documents, temporary, caches, app-group containers) under one root
// directory that the host app (or a test) chooses.
// Ownership: static; the settings live for the whole process.
// Threads: thread-safe.
// Errors: folder getters create their folder when missing and return the path even when that failed
//     (the caller's next file operation reports the error).

namespace pelmar::foundation {

class Sandbox {
public:
    Sandbox() = delete;

    // An empty path goes back to the default root: $XDG_DATA_HOME/pelmar/<app-id> (when
    // XDG_DATA_HOME is an absolute path), else $HOME/.local/share/pelmar/<app-id>, where the app
    // id defaults to "pelmar-app". A relative path is made absolute.
    static void setRoot(const std::filesystem::path& root);
    static std::filesystem::path root();

    // Refuses (returns false) a name that cannot be a single folder name: empty, ".", "..", or
    // holding "/" or a NUL byte.
    static bool setAppIdentifier(std::string_view appIdentifier);
    static std::string appIdentifier();

    static std::filesystem::path documentsDirectory();    // root/Documents
    static std::filesystem::path temporaryDirectory();    // root/tmp
    static std::filesystem::path cachesDirectory();       // root/Library/Caches
    static std::filesystem::path preferencesDirectory();  // root/Library/Preferences

    // Makes `group` known; refuses names that are not a single folder name (as setAppIdentifier).
    static bool registerAppGroup(std::string_view group);

    // root/AppGroups/<group> for a registered group, std::nullopt otherwise. Creates nothing.
    static std::optional<std::filesystem::path> containerForAppGroup(std::string_view group);

    // The whole setting, so a test helper can put back what it found.
    struct Settings {
        std::filesystem::path root;  // empty: the default root
        std::string appIdentifier;
        std::set<std::string, std::less<>> appGroups;
    };

    static Settings settings();
    static void restore(Settings settings);
};

}  // namespace pelmar::foundation
