#include "pelmar/imageviewer/internal/ViewerLocalizations.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace pelmar::imageviewer::internal {

namespace {

// Reads a table, or nothing when it is missing, unreadable or above the cap.
std::string readTable(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > ViewerLocalizations::kMaxTableBytes) {
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Walks a table's text token by token.
class TableReader {
public:
    explicit TableReader(std::string_view text) : text_(text) {}

    // Skips blanks and comments; false at the end (or in an unclosed comment).
    bool skipSpace() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "//") {
                const auto end = text_.find('\n', pos_);
                pos_ = end == std::string_view::npos ? text_.size() : end;
            } else if (text_.substr(pos_, 2) == "/*") {
                const auto end = text_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) {
                    pos_ = text_.size();
                    return false;
                }
                pos_ = end + 2;
            } else {
                return true;
            }
        }
        return false;
    }

    bool take(char expected) {
        if (!skipSpace() || text_[pos_] != expected) {
            return false;
        }
        ++pos_;
        return true;
    }

    std::optional<std::string> quoted() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) {
                break;
            }
            const char e = text_[pos_++];
            out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
        return std::nullopt;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

std::map<std::string, std::string, std::less<>> ViewerLocalizations::parse(std::string_view text) {
    std::map<std::string, std::string, std::less<>> table;
    TableReader reader(text);
    while (reader.skipSpace()) {
        auto key = reader.quoted();
        if (!key || !reader.take('=')) {
            break;
        }
        auto value = reader.quoted();
        if (!value || !reader.take(';')) {
            break;
        }
        table[std::move(*key)] = std::move(*value);
    }
    return table;
}

std::optional<ViewerLocalizations> ViewerLocalizations::find(
        const std::filesystem::path& appResources, const std::vector<std::string>& languages) {
    const auto bundle = appResources / kBundleName;
    std::error_code error;
    if (!std::filesystem::is_directory(bundle, error)) {
        return std::nullopt;
    }
    std::vector<std::string> candidates;
    for (const auto& language : languages) {
        candidates.push_back(language);
        if (const auto cut = language.find_first_of("_-"); cut != std::string::npos) {
            candidates.push_back(language.substr(0, cut));
        }
    }
    candidates.insert(candidates.end(), {"en", "Base"});
    ViewerLocalizations found;
    for (const auto& language : candidates) {
        const auto table = bundle / (language + ".lproj") / kTableName;
        if (std::filesystem::is_regular_file(table, error)) {
            found.table_ = parse(readTable(table));
            return found;
        }
    }
    found.table_ = parse(readTable(bundle / kTableName));
    return found;
}

std::vector<std::string> ViewerLocalizations::preferredLanguages() {
    std::vector<std::string> languages;
    const auto add = [&](std::string_view entry) {
        entry = entry.substr(0, entry.find_first_of(".@"));
        if (!entry.empty() && entry != "C" && entry != "POSIX") {
            languages.emplace_back(entry);
        }
    };
    if (const char* list = std::getenv("LANGUAGE"); list != nullptr && *list != '\0') {
        std::string_view rest(list);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            add(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        }
    } else if (const char* lang = std::getenv("LANG"); lang != nullptr) {
        add(lang);
    }
    return languages;
}

std::filesystem::path ViewerLocalizations::mainBundleFolder() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path{} : program.parent_path();
}

std::string ViewerLocalizations::localizedString(std::string_view key,
                                                 std::string_view defaultValue) const {
    const auto it = table_.find(key);
    return it == table_.end() ? std::string(defaultValue) : it->second;
}

}  // namespace pelmar::imageviewer::internal
