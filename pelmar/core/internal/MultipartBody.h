#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/net/BodySource.h"
#include "pelmar/platform/net/FileBodySource.h"

// MultipartBody: the multipart/form-data body of an upload, read straight from the source file
// while it is sent: the form fields, then the file part, then the closing boundary. Nothing is
// copied to a temporary file, and the exact size is known before the first byte goes out.
// Ownership: made by create() and held by shared_ptr (by the upload task that sends it).
// Threads: thread-compatible; the upload task reads it on the transport thread.
// Errors: create() refuses unsafe field names and values and a source that cannot be examined;
//     reading fails when the source disappears or changes size (see FileBodySource).

namespace pelmar::core::internal {

// Why a form could not be built (domain of the errors create() returns besides file errors).
inline constexpr std::string_view kMultipartErrorDomain = "pelmar.multipart";

enum MultipartErrorCode : long {
    // A field name holds '"', CR or LF, or a value holds the boundary line.
    kMultipartErrorUnsafeField = 1,
    // The file name, extension or media type holds '"', CR or LF.
    kMultipartErrorUnsafeFilePart = 2,
};

class MultipartBody : public net::BodySource {
    struct Private {};

public:
    static constexpr std::string_view kBoundary = "----WebKitFormBoundaryLEjTQVMVbVg9HRYu";

    // "multipart/form-data; boundary=" + kBoundary.
    static std::string contentType();

    struct Made {
        std::shared_ptr<MultipartBody> body;  // null when `error` is set
        std::optional<Error> error;
    };

    // `fields` (an object; anything else counts as none) in its own key order; a string value is
    // written as it is, any other value as its compact JSON text. The file part is named "file"
    // with the file name `fileName` + "." + `fileExtension`.
    static Made create(const Json& fields,
                       const std::filesystem::path& file,
                       std::string_view fileName,
                       std::string_view mimeType,
                       std::string_view fileExtension);

    MultipartBody(Private, std::string head, std::filesystem::path file, std::string tail);

    // Text bytes plus the file's size when create() examined it.
    int64_t size() const override;

    std::optional<Error> open() override;

    ReadResult read(std::span<char> buffer) override;

    void close() override;

    // The bytes before and after the file's bytes.
    const std::string& head() const { return head_; }

    const std::string& tail() const { return tail_; }

private:
    enum class Part { Head, File, Tail, End };

    const std::string head_;
    net::FileBodySource file_;
    const std::string tail_;
    Part part_ = Part::Head;
    size_t offset_ = 0;  // within head_ or tail_
};

}  // namespace pelmar::core::internal
