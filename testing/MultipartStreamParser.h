#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/ServiceTypes.h"

// MultipartStreamParser: reads a multipart/form-data body as it arrives, in chunks of any size,
// collecting field parts and handing the bytes of file parts to a sink without holding them.
// Ownership: owns its small look-ahead buffer and the collected fields; the callbacks are copied.
// Threads: thread-compatible.
// Errors: feed()/finish() return false once the body is malformed, a callback refused a part or the
//     sink failed; error() then gives the reason. Later input is ignored.
// Limits: kMaxHeaderBlockBytes per part header block, kMaxFieldValueBytes per field value,
//     kMaxParts parts, boundaries of 1..70 characters.

namespace pelmar::test {

struct MultipartPart {
    std::string name;
    std::optional<std::string> fileName;  // present for file parts
    std::string contentType;              // "" when the part has no Content-Type header
    FieldList headers;                    // the part's header lines, in order
    std::string value;                    // content of a field part (file parts: empty)
    uint64_t size = 0;                    // content bytes of the part
};

class MultipartStreamParser {
public:
    static constexpr size_t kMaxHeaderBlockBytes = 16 * 1024;
    static constexpr size_t kMaxFieldValueBytes = 64 * 1024;
    static constexpr size_t kMaxParts = 1000;
    static constexpr size_t kMaxBoundaryLength = 70;

    // Called when a part's headers have been read (its index counts from 0); a non-empty return
    // value refuses the part and becomes the error.
    using PartBegin = std::function<std::string(const MultipartPart& part, size_t index)>;
    // Receives the content of file parts; false stops parsing ("could not store the file part").
    using FileData = std::function<bool(std::string_view bytes)>;

    MultipartStreamParser(std::string boundary, PartBegin partBegin, FileData fileData);

    // The body must be exactly: "--B" CRLF, then per part: header lines, CRLF, content, CRLF "--B";
    // then CRLF before the next part or "--" CRLF after the last one, and nothing after that (no
    // preamble, no transport padding, no epilogue). Every part needs a "Content-Disposition:
    // form-data" header with a name parameter; a filename parameter makes it a file part.
    bool feed(std::string_view chunk);

    // Ends the body; false unless the closing boundary was seen.
    bool finish();

    bool failed() const { return !error_.empty(); }

    const std::string& error() const { return error_; }

    // Completed parts (fields with their values, file parts with their sizes), in body order.
    const std::vector<MultipartPart>& parts() const { return parts_; }

    // The boundary parameter of a "multipart/form-data; boundary=..." content type (quoted or
    // not), or std::nullopt when the type is another one or the boundary is missing or invalid.
    static std::optional<std::string> boundaryFromContentType(std::string_view contentType);

private:
    enum class State { Start, Headers, Content, AfterBoundary, AfterClose, End };

    bool fail(std::string reason);
    bool step();
    bool parseHeaders(std::string_view block);
    bool emitContent(std::string_view bytes);

    std::string boundary_;
    std::string delimiter_;  // CRLF "--" boundary
    PartBegin partBegin_;
    FileData fileData_;
    State state_ = State::Start;
    std::string buffer_;
    std::optional<MultipartPart> current_;
    std::vector<MultipartPart> parts_;
    std::string error_;
};

}  // namespace pelmar::test
