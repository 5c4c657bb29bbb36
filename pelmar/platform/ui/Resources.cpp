#include "pelmar/platform/ui/Resources.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "pelmar/platform/foundation/Log.h"

// Defined by a source that the CMake package adds to each executable and shared library linking
// the SDK (cmake/PelmarResourceDir.cpp.in); absent in binaries built otherwise.
extern "C" [[gnu::weak]] const char* pelmar_package_resource_dir();

namespace pelmar::ui {

namespace {

bool isFolder(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

// The binary (executable or shared library) this code was linked into.
std::optional<std::filesystem::path> ownBinary() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&Resources::installed), &info) == 0
        || info.dli_fname == nullptr || *info.dli_fname == '\0') {
        return std::nullopt;
    }
    std::error_code ec;
    auto path = std::filesystem::canonical(info.dli_fname, ec);
    if (ec) {
        return std::nullopt;
    }
    return path;
}

// Where the resource folder may be, best first.
std::vector<std::filesystem::path> candidateFolders() {
    std::vector<std::filesystem::path> folders;
    if (pelmar_package_resource_dir != nullptr) {
        if (const char* folder = pelmar_package_resource_dir(); folder && *folder) {
            folders.emplace_back(folder);
        }
    }
    if (const auto binary = ownBinary()) {
        const auto dir = binary->parent_path();
        folders.push_back((dir / PELMAR_BINDIR_TO_RESOURCES).lexically_normal());
        folders.push_back((dir / PELMAR_LIBDIR_TO_RESOURCES).lexically_normal());
    }
    return folders;
}

constexpr std::string_view kNothingFound =
        ": named images and sounds will not be found and show blank";

std::filesystem::path locateFolder() {
    if (const char* override = std::getenv("PELMAR_RESOURCE_DIR"); override && *override) {
        if (!isFolder(override)) {
            foundation::Log::write("pelmar: the resource folder " + std::string(override)
                                   + " given by PELMAR_RESOURCE_DIR does not exist"
                                   + std::string(kNothingFound));
        }
        return override;
    }
    const auto folders = candidateFolders();
    for (const auto& folder : folders) {
        if (isFolder(folder)) {
            return folder;
        }
    }
    // Nothing there: said once, here, since every lookup would fail alike without a word.
    std::string places;
    for (const auto& folder : folders) {
        places += (places.empty() ? "" : ", ") + folder.string();
    }
    foundation::Log::write("pelmar: no resource folder at "
                           + (places.empty() ? std::string("any known place") : places)
                           + std::string(kNothingFound)
                           + "; set PELMAR_RESOURCE_DIR to the SDK's share/pelmar/resources");
    // The first place looked at, so that folder() tells where it was expected.
    return folders.empty() ? std::filesystem::path() : folders.front();
}

bool safeName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos
           && name.find('\\') == std::string_view::npos && name != "." && name != ".."
           && name.find('\0') == std::string_view::npos;
}

// The extension of `name` ("" for none), lower-case, without the dot.
std::string extensionOf(std::string_view name) {
    std::string ext = std::filesystem::path(std::string(name)).extension().string();
    if (!ext.empty()) {
        ext.erase(0, 1);
    }
    for (auto& c : ext) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return ext;
}

bool oneOf(const std::string& ext, std::initializer_list<std::string_view> kinds) {
    for (auto kind : kinds) {
        if (ext == kind) {
            return true;
        }
    }
    return false;
}

}  // namespace

const Resources& Resources::installed() {
    static const auto* resources = new Resources(locateFolder());
    return *resources;
}

std::optional<std::filesystem::path> Resources::first(
        std::string_view name, std::initializer_list<std::string_view> suffixes) const {
    if (!safeName(name) || folder_.empty()) {
        return std::nullopt;
    }
    for (auto suffix : suffixes) {
        auto path = folder_ / (std::string(name) + std::string(suffix));
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec)) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> Resources::imagePath(std::string_view name,
                                                          double scale) const {
    // Only an image kind's extension is one: the dots of a symbol's name
    // ("square.and.arrow.up") are part of the name.
    if (oneOf(extensionOf(name), {"png", "jpg", "jpeg", "gif"})) {
        return first(name, {""});
    }
    if (scale >= 3) {
        return first(name, {"@3x.png", "@2x.png", ".png", ".jpg", ".gif"});
    }
    if (scale >= 2) {
        return first(name, {"@2x.png", "@3x.png", ".png", ".jpg", ".gif"});
    }
    return first(name, {".png", "@2x.png", "@3x.png", ".jpg", ".gif"});
}

std::optional<std::filesystem::path> Resources::soundPath(std::string_view name) const {
    if (const auto ext = extensionOf(name); !ext.empty()) {
        return oneOf(ext, {"caf", "wav", "m4a", "aiff", "mp3"}) ? first(name, {""}) : std::nullopt;
    }
    return first(name, {".caf", ".wav", ".m4a", ".aiff", ".mp3"});
}

}  // namespace pelmar::ui
