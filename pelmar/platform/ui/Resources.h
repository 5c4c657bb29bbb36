#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace pelmar::ui {

// Resources: the folder of named images and sounds installed with the library, and the lookup of
// a name in it. An image name without an extension finds the best file for a screen scale
// (name@3x.png, name@2x.png, name.png, then .jpg and .gif); a sound name finds name.caf, .wav,
// .m4a, .aiff or .mp3. A name with an extension of its kind must match the file exactly; any
// other dot belongs to the name ("square.and.arrow.up" finds square.and.arrow.up@3x.png).
// Ownership: value type; installed() is one instance for the process, never destroyed.
// Threads: thread-safe (immutable; lookups read the file system).
// Errors: a name that is empty, absolute or climbs out of the folder ("/", "..") finds nothing;
//     so does every name in an empty folder path. When the folder installed() chooses does not
//     exist, it says so once, on the log sink's Diagnostic channel, naming the folder and
//     PELMAR_RESOURCE_DIR.
class Resources {
public:
    // The SDK's folder, found once: $PELMAR_RESOURCE_DIR when set (used as given); else the
    // folder of the package the binary was built against with CMake (the build tree's, or the
    // installed prefix's wherever it lies now); else <prefix>/share/pelmar/resources beside the
    // executable (<prefix>/bin) or shared library (<prefix>/lib) that holds the SDK.
    static const Resources& installed();

    explicit Resources(std::filesystem::path folder) : folder_(std::move(folder)) {}

    const std::filesystem::path& folder() const { return folder_; }

    std::optional<std::filesystem::path> imagePath(std::string_view name, double scale = 3) const;

    std::optional<std::filesystem::path> soundPath(std::string_view name) const;

private:
    std::optional<std::filesystem::path> first(
            std::string_view name, std::initializer_list<std::string_view> suffixes) const;

    std::filesystem::path folder_;
};

}  // namespace pelmar::ui
