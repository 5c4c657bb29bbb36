#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/foundation/CharacterSet.h"

// URL helpers: percent-encoding with named character sets, and conversion between local paths and
// "file://" URL strings.
// Ownership: free functions on values.
// Threads: thread-safe.
// Errors: decoding returns std::nullopt for malformed input (a "%" not followed by two hex digits,
//         a file URL naming another host, a decoded path holding a NUL byte).

namespace pelmar::foundation {

// A-Z a-z 0-9 - . _ ~
inline constexpr CharacterSet kUnreservedChars{
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"};

// Unreserved plus ! $ & ' ( ) * + , ; = : @ / ?
inline constexpr CharacterSet kQueryAllowedChars = kUnreservedChars.with("!$&'()*+,;=:@/?");

// Unreserved plus ! $ & ' ( ) * + , : ; = [ ]
inline constexpr CharacterSet kHostAllowedChars = kUnreservedChars.with("!$&'()*+,:;=[]");

// Unreserved plus "/": what a file URL keeps of a path.
inline constexpr CharacterSet kPathAllowedChars = kUnreservedChars.with("/");

// Every byte of `text` outside `allowed` becomes "%XX" (upper-case hex); UTF-8 text is encoded
// byte by byte.
std::string percentEncode(std::string_view text, const CharacterSet& allowed = kUnreservedChars);

// Decodes every "%XX"; "+" stays "+". std::nullopt when a "%" is not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);

// "file://" + the absolute form of `path` (relative paths resolve against the working directory),
// percent-encoded with kPathAllowedChars. "/tmp/a b.mp4" gives "file:///tmp/a%20b.mp4".
std::string fileURLFromPath(const std::filesystem::path& path);

// The percent-decoded local path of a file URL: only for strings that begin with "file://"
// (scheme case-insensitive) whose host is empty or "localhost"; a query or fragment is dropped.
// std::nullopt for anything else, for malformed escapes and for an empty or NUL-holding path.
std::optional<std::string> pathFromFileURL(std::string_view url);

}  // namespace pelmar::foundation
