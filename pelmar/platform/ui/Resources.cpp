#include "pelmar/platform/ui/Resources.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <system_error>

namespace pelmar::ui {

namespace {

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
    static const auto* resources = [] {
        const char* override = std::getenv("PELMAR_RESOURCE_DIR");
        return new Resources(override && *override ? override : PELMAR_INSTALLED_RESOURCE_DIR);
    }();
    return *resources;
}

std::optional<std::filesystem::path> Resources::first(
        std::string_view name, std::initializer_list<std::string_view> suffixes) const {
    if (!safeName(name)) {
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
    if (const auto ext = extensionOf(name); !ext.empty()) {
        return oneOf(ext, {"png", "jpg", "jpeg", "gif"}) ? first(name, {""}) : std::nullopt;
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
