#include "pelmar/live/Uri.h"

#include <stdexcept>
#include <utility>

namespace pelmar::live {

namespace {

// Moves rest[at, end) into `part`, keeping what precedes it in `rest`.
void SplitTail(std::string& rest, std::string::size_type at, std::string& part) {
    if (at != std::string::npos) {
        part = rest.substr(at);
        rest.erase(at);
    }
}

uint16_t ParsePort(const std::string& text) {
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            throw std::runtime_error("invalid port: " + text);
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) {
            throw std::runtime_error("invalid port: " + text);
        }
    }
    if (value == 0) {  // also the empty text: a ":" with no port after it
        throw std::runtime_error("invalid port: " + text);
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

Uri::Uri(std::string text) {
    Parse(std::move(text));
}

void Uri::Parse(std::string text) {
    Uri parsed;
    std::string rest = std::move(text);
    SplitTail(rest, rest.rfind('#'), parsed.fragment);
    SplitTail(rest, rest.rfind('?'), parsed.query);

    if (const auto at = rest.find("://"); at != std::string::npos) {
        parsed.scheme = rest.substr(0, at + 3);
        rest.erase(0, at + 3);
    }

    // The path goes before the user information is looked for, so that an "@" in a stream name
    // cannot move the host into the path.
    SplitTail(rest, rest.find('/'), parsed.path);

    if (const auto at = rest.rfind('@'); at != std::string::npos) {
        parsed.userInformation = rest.substr(0, at);
        rest.erase(0, at + 1);
    }

    const auto bracket = rest.rfind(']');
    const auto colon = rest.rfind(':');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        parsed.port = ParsePort(rest.substr(colon + 1));
        rest.erase(colon);
    }
    parsed.host = std::move(rest);
    *this = std::move(parsed);
}

std::vector<std::string> Uri::GetSegments() const {
    std::vector<std::string> segments;
    if (!host.empty()) {
        segments.push_back(host);
    }
    std::string::size_type start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (end > start) {
            segments.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return segments;
}

std::string Uri::ToString() const {
    std::string text = scheme;
    if (!userInformation.empty()) {
        text += userInformation;
        text += '@';
    }
    text += host;
    if (port != 0) {
        text += ':';
        text += std::to_string(port);
    }
    text += path;
    text += query;
    text += fragment;
    return text;
}

}  // namespace pelmar::live
