#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Uri: splits a streaming address such as rtmp://user@host:1935/app/stream?key#frag into its
// parts, so the RTMP client can take host and port and derive the application from the path. No
// percent-decoding and no case folding; the separators stay inside scheme, path, query and
// fragment, so ToString() is a plain concatenation.
// Ownership: plain value with public fields.
// Threads: thread-compatible.
// Errors: std::runtime_error "invalid port: <text>" when the text after the port's ":" is not a
//         decimal number in 1..65535 (an empty text included); the fields are then left as they
//         were.

namespace pelmar::live {

class Uri {
public:
    Uri() = default;

    explicit Uri(std::string text);

    virtual ~Uri() = default;

    Uri(const Uri&) = default;
    Uri& operator=(const Uri&) = default;
    Uri(Uri&&) = default;
    Uri& operator=(Uri&&) = default;

    // Replaces every field with the parts of `text`:
    //   fragment  from the last "#";
    //   query     from the last "?" before it;
    //   scheme    up to and including the first "://";
    //   path      from the first "/" after the scheme;
    //   user information  before the last "@" ahead of the path (an "@" in the path is path);
    //   port      after the last ":" of what remains (outside an IPv6 "[...]"); 0 without ":";
    //   host      what is left.
    void Parse(std::string text);

    // The host when not empty, then the non-empty pieces of the path between "/" characters.
    std::vector<std::string> GetSegments() const;

    std::string ToString() const;

    std::string scheme;
    std::string userInformation;
    std::string host;
    uint16_t port = 0;  // 0: none given
    std::string path;
    std::string query;
    std::string fragment;
};

}  // namespace pelmar::live
