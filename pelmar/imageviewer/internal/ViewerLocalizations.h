#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ViewerLocalizations: the host app's texts for the viewer: the folder
// "PelmarImageViewerLocalizations.bundle" among the app's own resources (on Linux, the folder of
// the running program), holding a "Localizable.strings" table per language ("<lang>.lproj/") or
// one for all at its top. A table holds lines `"key" = "value";` (UTF-8, with \" \\ \n \t
// escapes and /* */ or // comments). The first language of the preference list the bundle has
// wins, then "en", then "Base", then the top table.
// Ownership: value type holding the chosen table.
// Threads: thread-compatible.
// Errors: find() gives none when the bundle folder is missing; a table that cannot be read, is
//     malformed from some point on, or is too large, keeps only what was read before it.
// Limits: tables above kMaxTableBytes are not read.

namespace pelmar::imageviewer::internal {

class ViewerLocalizations {
public:
    static constexpr std::string_view kBundleName = "PelmarImageViewerLocalizations.bundle";
    static constexpr std::string_view kTableName = "Localizable.strings";
    static constexpr std::size_t kMaxTableBytes = 1024 * 1024;

    // The bundle among `appResources`, read for the first of `languages` it has ("de_DE" also
    // matches "de").
    static std::optional<ViewerLocalizations> find(const std::filesystem::path& appResources,
                                                   const std::vector<std::string>& languages);

    // The user's languages from $LANGUAGE, else $LANG ("de_DE.UTF-8" gives "de_DE").
    static std::vector<std::string> preferredLanguages();

    // The folder of the running program: where a Linux app keeps its resources.
    static std::filesystem::path mainBundleFolder();

    // The text for `key`, or `defaultValue` when the table has none.
    std::string localizedString(std::string_view key, std::string_view defaultValue) const;

    // Parses one table's text; entries up to the first malformed one.
    static std::map<std::string, std::string, std::less<>> parse(std::string_view text);

private:
    std::map<std::string, std::string, std::less<>> table_;
};

}  // namespace pelmar::imageviewer::internal
