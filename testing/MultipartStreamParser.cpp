#include "testing/MultipartStreamParser.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace pelmar::test {

namespace {

constexpr std::string_view kCrlf = "\r\n";

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x))
                      == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool isTokenChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u >= 127) {
        return false;
    }
    return std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
}

// Characters RFC 2046 allows in a boundary.
bool isBoundaryChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0
           || std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
}

}  // namespace

MultipartStreamParser::MultipartStreamParser(std::string boundary,
                                             PartBegin partBegin,
                                             FileData fileData)
    : boundary_(std::move(boundary)),
      delimiter_("\r\n--" + boundary_),
      partBegin_(std::move(partBegin)),
      fileData_(std::move(fileData)) {
    if (boundary_.empty() || boundary_.size() > kMaxBoundaryLength
        || !std::all_of(boundary_.begin(), boundary_.end(), isBoundaryChar)) {
        error_ = "invalid multipart boundary";
    }
}

bool MultipartStreamParser::fail(std::string reason) {
    if (error_.empty()) {
        error_ = std::move(reason);
    }
    buffer_.clear();
    return false;
}

bool MultipartStreamParser::feed(std::string_view chunk) {
    if (failed()) {
        return false;
    }
    if (chunk.empty()) {
        return true;
    }
    buffer_.append(chunk);
    while (step()) {
    }
    return !failed();
}

bool MultipartStreamParser::finish() {
    if (failed()) {
        return false;
    }
    if (state_ != State::End) {
        return fail("body ended before the closing boundary");
    }
    return true;
}

bool MultipartStreamParser::step() {
    switch (state_) {
        case State::Start: {
            const std::string first = "--" + boundary_ + std::string(kCrlf);
            const size_t n = std::min(buffer_.size(), first.size());
            if (buffer_.compare(0, n, first, 0, n) != 0) {
                return fail("body does not start with the boundary line");
            }
            if (buffer_.size() < first.size()) {
                return false;
            }
            buffer_.erase(0, first.size());
            state_ = State::Headers;
            return true;
        }
        case State::Headers: {
            if (parts_.size() >= kMaxParts) {
                return fail("too many parts");
            }
            size_t end = 0;
            size_t skip = 0;
            if (buffer_.size() >= 2 && buffer_.compare(0, 2, kCrlf) == 0) {
                skip = 2;  // no header lines at all
            } else {
                end = buffer_.find("\r\n\r\n");
                if (end == std::string::npos) {
                    if (buffer_.size() > kMaxHeaderBlockBytes) {
                        return fail("part headers too long");
                    }
                    return false;
                }
                if (end > kMaxHeaderBlockBytes) {
                    return fail("part headers too long");
                }
                skip = 4;
            }
            const std::string block = buffer_.substr(0, end);
            buffer_.erase(0, end + skip);
            if (!parseHeaders(block)) {
                return false;
            }
            state_ = State::Content;
            return true;
        }
        case State::Content: {
            const size_t pos = buffer_.find(delimiter_);
            if (pos != std::string::npos) {
                if (!emitContent(std::string_view(buffer_).substr(0, pos))) {
                    return false;
                }
                buffer_.erase(0, pos + delimiter_.size());
                parts_.push_back(std::move(*current_));
                current_.reset();
                state_ = State::AfterBoundary;
                return true;
            }
            // Everything but a possible start of the delimiter is content.
            const size_t keep = delimiter_.size() - 1;
            if (buffer_.size() > keep) {
                const size_t n = buffer_.size() - keep;
                if (!emitContent(std::string_view(buffer_).substr(0, n))) {
                    return false;
                }
                buffer_.erase(0, n);
            }
            return false;
        }
        case State::AfterBoundary: {
            if (buffer_.size() < 2) {
                if (!buffer_.empty() && buffer_[0] != '\r' && buffer_[0] != '-') {
                    return fail("malformed boundary line");
                }
                return false;
            }
            if (buffer_.compare(0, 2, kCrlf) == 0) {
                buffer_.erase(0, 2);
                state_ = State::Headers;
                return true;
            }
            if (buffer_.compare(0, 2, "--") == 0) {
                buffer_.erase(0, 2);
                state_ = State::AfterClose;
                return true;
            }
            return fail("malformed boundary line");
        }
        case State::AfterClose: {
            if (buffer_.size() < 2) {
                if (!buffer_.empty() && buffer_[0] != '\r') {
                    return fail("closing boundary not followed by CRLF");
                }
                return false;
            }
            if (buffer_.compare(0, 2, kCrlf) != 0) {
                return fail("closing boundary not followed by CRLF");
            }
            buffer_.erase(0, 2);
            state_ = State::End;
            return true;
        }
        case State::End:
            if (!buffer_.empty()) {
                return fail("data after the closing boundary");
            }
            return false;
    }
    return false;
}

bool MultipartStreamParser::emitContent(std::string_view bytes) {
    if (bytes.empty()) {
        return true;
    }
    MultipartPart& part = *current_;
    part.size += bytes.size();
    if (part.fileName) {
        if (!fileData_ || !fileData_(bytes)) {
            return fail("could not store the file part");
        }
        return true;
    }
    if (part.value.size() + bytes.size() > kMaxFieldValueBytes) {
        return fail("field value too long");
    }
    part.value.append(bytes);
    return true;
}

bool MultipartStreamParser::parseHeaders(std::string_view block) {
    MultipartPart part;
    bool haveDisposition = false;
    while (!block.empty()) {
        const size_t eol = block.find(kCrlf);
        const std::string_view line = block.substr(0, eol);
        block = eol == std::string_view::npos ? std::string_view{} : block.substr(eol + 2);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0
            || !std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                            isTokenChar)) {
            return fail("malformed part header line");
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = trim(line.substr(colon + 1));
        part.headers.emplace_back(std::string(name), std::string(value));
        if (equalsIgnoreCase(name, "Content-Type")) {
            part.contentType = std::string(value);
            continue;
        }
        if (!equalsIgnoreCase(name, "Content-Disposition")) {
            continue;
        }
        if (haveDisposition) {
            return fail("duplicate Content-Disposition");
        }
        haveDisposition = true;
        const size_t semicolon = value.find(';');
        if (!equalsIgnoreCase(trim(value.substr(0, semicolon)), "form-data")) {
            return fail("part is not form-data");
        }
        std::string_view rest =
                semicolon == std::string_view::npos ? std::string_view{} : value.substr(semicolon);
        std::optional<std::string> partName;
        while (true) {
            while (!rest.empty()
                   && (rest.front() == ';' || rest.front() == ' ' || rest.front() == '\t')) {
                rest.remove_prefix(1);
            }
            if (rest.empty()) {
                break;
            }
            const size_t eq = rest.find('=');
            if (eq == std::string_view::npos) {
                return fail("malformed Content-Disposition");
            }
            const std::string_view paramName = trim(rest.substr(0, eq));
            rest = trim(rest.substr(eq + 1));
            std::string paramValue;
            if (!rest.empty() && rest.front() == '"') {
                const size_t close = rest.find('"', 1);
                if (close == std::string_view::npos) {
                    return fail("unterminated quoted string in Content-Disposition");
                }
                paramValue = std::string(rest.substr(1, close - 1));
                rest.remove_prefix(close + 1);
            } else {
                const size_t end = rest.find(';');
                paramValue = std::string(trim(rest.substr(0, end)));
                rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
            }
            rest = trim(rest);
            if (!rest.empty() && rest.front() != ';') {
                return fail("malformed Content-Disposition");
            }
            std::optional<std::string>* target = nullptr;
            if (equalsIgnoreCase(paramName, "name")) {
                target = &partName;
            } else if (equalsIgnoreCase(paramName, "filename")) {
                target = &part.fileName;
            }
            if (target) {
                if (target->has_value()) {
                    return fail("duplicate Content-Disposition parameter");
                }
                *target = std::move(paramValue);
            }
        }
        if (!partName) {
            return fail("part without a name");
        }
        part.name = std::move(*partName);
    }
    if (!haveDisposition) {
        return fail("part without Content-Disposition");
    }
    if (partBegin_) {
        std::string refusal = partBegin_(part, parts_.size());
        if (!refusal.empty()) {
            return fail(std::move(refusal));
        }
    }
    current_ = std::move(part);
    return true;
}

std::optional<std::string> MultipartStreamParser::boundaryFromContentType(
        std::string_view contentType) {
    const size_t semicolon = contentType.find(';');
    if (!equalsIgnoreCase(trim(contentType.substr(0, semicolon)), "multipart/form-data")
        || semicolon == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = contentType.substr(semicolon + 1);
    while (!rest.empty()) {
        const size_t end = rest.find(';');
        const std::string_view param = trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        const size_t eq = param.find('=');
        if (eq == std::string_view::npos
            || !equalsIgnoreCase(trim(param.substr(0, eq)), "boundary")) {
            continue;
        }
        std::string_view value = trim(param.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.empty() || value.size() > kMaxBoundaryLength
            || !std::all_of(value.begin(), value.end(), isBoundaryChar) || value.back() == ' ') {
            return std::nullopt;
        }
        return std::string(value);
    }
    return std::nullopt;
}

}  // namespace pelmar::test
