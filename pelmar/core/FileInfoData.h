#pragma once

#include <optional>
#include <string>

// FileInfoData: a small descriptor of a local file (path, URL, MIME type, name), used to attach the
// log file to the support mail.
// Ownership: plain value, copyable.
// Threads: thread-compatible.
// Errors: none; neither factory derives a MIME type or a name.

namespace pelmar {

struct FileInfoData {
    // `path` as given, `url` its "file://" URL.
    static FileInfoData fromPath(const std::string& path,
                                 const std::string& mimeType,
                                 const std::string& name);

    // `url` as given, `path` the URL's absolute string (for a file URL the "file:///..." text,
    // not the bare path).
    static FileInfoData fromURL(const std::string& url,
                                const std::string& mimeType,
                                const std::string& name);

    std::optional<std::string> path;
    std::optional<std::string> url;
    std::optional<std::string> mimeType;
    std::optional<std::string> name;
};

}  // namespace pelmar
