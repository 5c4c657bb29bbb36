#include "pelmar/core/internal/MultipartBody.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace pelmar::core::internal {

namespace {

constexpr std::string_view kCRLF = "\r\n";

bool breaksPartHeader(std::string_view text) {
    return text.find_first_of("\"\r\n") != std::string_view::npos;
}

Error multipartError(MultipartErrorCode code, std::string message) {
    return Error{std::string(kMultipartErrorDomain), code, std::move(message)};
}

}  // namespace

std::string MultipartBody::contentType() {
    return "multipart/form-data; boundary=" + std::string(kBoundary);
}

MultipartBody::Made MultipartBody::create(const Json& fields,
                                          const std::filesystem::path& file,
                                          std::string_view fileName,
                                          std::string_view mimeType,
                                          std::string_view fileExtension) {
    const std::string delimiter = "--" + std::string(kBoundary);
    std::string head;
    if (fields.is_object()) {
        for (const auto& [key, value] : fields.items()) {
            if (breaksPartHeader(key)) {
                return {nullptr, multipartError(kMultipartErrorUnsafeField,
                                                "the form field name \"" + key
                                                        + "\" holds a quote or a line break")};
            }
            const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
            if (text.find(delimiter) != std::string::npos) {
                return {nullptr, multipartError(kMultipartErrorUnsafeField,
                                                "the value of form field \"" + key
                                                        + "\" holds the boundary line")};
            }
            head += delimiter;
            head += kCRLF;
            head += "Content-Disposition: form-data; name=\"" + key + "\"";
            head += kCRLF;
            head += kCRLF;
            head += text;
            head += kCRLF;
        }
    }
    if (breaksPartHeader(fileName) || breaksPartHeader(fileExtension)
        || breaksPartHeader(mimeType)) {
        return {nullptr, multipartError(kMultipartErrorUnsafeFilePart,
                                        "the file name, extension or media type holds a quote or a "
                                        "line break")};
    }
    head += delimiter;
    head += kCRLF;
    head += "Content-Disposition: form-data; name=\"file\"; filename=\"" + std::string(fileName)
            + "." + std::string(fileExtension) + "\"";
    head += kCRLF;
    head += "Content-Type: " + std::string(mimeType);
    head += kCRLF;
    head += kCRLF;
    std::string tail = std::string(kCRLF) + delimiter + "--" + std::string(kCRLF);

    auto body = std::make_shared<MultipartBody>(Private{}, std::move(head), file, std::move(tail));
    if (const auto& error = body->file_.statusError()) {
        return {nullptr, *error};
    }
    return {std::move(body), std::nullopt};
}

MultipartBody::MultipartBody(Private,
                             std::string head,
                             std::filesystem::path file,
                             std::string tail)
    : head_(std::move(head)), file_(std::move(file)), tail_(std::move(tail)) {}

int64_t MultipartBody::size() const {
    return static_cast<int64_t>(head_.size() + tail_.size()) + file_.size();
}

std::optional<Error> MultipartBody::open() {
    part_ = Part::Head;
    offset_ = 0;
    return file_.open();
}

net::BodySource::ReadResult MultipartBody::read(std::span<char> buffer) {
    size_t filled = 0;
    while (filled < buffer.size() && part_ != Part::End) {
        auto out = buffer.subspan(filled);
        if (part_ == Part::Head || part_ == Part::Tail) {
            const std::string& text = part_ == Part::Head ? head_ : tail_;
            const size_t n = std::min(out.size(), text.size() - offset_);
            std::memcpy(out.data(), text.data() + offset_, n);
            offset_ += n;
            filled += n;
            if (offset_ == text.size()) {
                part_ = part_ == Part::Head ? Part::File : Part::End;
                offset_ = 0;
            }
            continue;
        }
        auto result = file_.read(out);
        if (result.error) {
            return {0, std::move(result.error)};
        }
        if (result.bytes == 0) {
            part_ = Part::Tail;  // the file ended exactly at its announced size
            continue;
        }
        filled += result.bytes;
    }
    return {filled, std::nullopt};
}

void MultipartBody::close() {
    file_.close();
}

}  // namespace pelmar::core::internal
