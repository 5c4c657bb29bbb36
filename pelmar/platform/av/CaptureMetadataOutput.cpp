#include "pelmar/platform/av/CaptureMetadataOutput.h"

#include <ZXing/BarcodeFormat.h>
#include <ZXing/DecodeHints.h>
#include <ZXing/ImageView.h>
#include <ZXing/ReadBarcode.h>

#include <algorithm>
#include <utility>

namespace pelmar::av {

namespace {

struct CodeType {
    const char* name;
    ZXing::BarcodeFormat format;
};

// UPC-A is EAN-13 with a leading zero: it is reported as EAN-13, as cameras do.
constexpr CodeType kCodeTypes[] = {
        {CaptureMetadataOutput::kQRCode, ZXing::BarcodeFormat::QRCode},
        {CaptureMetadataOutput::kMicroQRCode, ZXing::BarcodeFormat::MicroQRCode},
        {CaptureMetadataOutput::kAztec, ZXing::BarcodeFormat::Aztec},
        {CaptureMetadataOutput::kDataMatrix, ZXing::BarcodeFormat::DataMatrix},
        {CaptureMetadataOutput::kPDF417, ZXing::BarcodeFormat::PDF417},
        {CaptureMetadataOutput::kEAN13, ZXing::BarcodeFormat::EAN13},
        {CaptureMetadataOutput::kEAN8, ZXing::BarcodeFormat::EAN8},
        {CaptureMetadataOutput::kUPCE, ZXing::BarcodeFormat::UPCE},
        {CaptureMetadataOutput::kCode128, ZXing::BarcodeFormat::Code128},
        {CaptureMetadataOutput::kCode39, ZXing::BarcodeFormat::Code39},
        {CaptureMetadataOutput::kCode93, ZXing::BarcodeFormat::Code93},
        {CaptureMetadataOutput::kITF, ZXing::BarcodeFormat::ITF},
        {CaptureMetadataOutput::kCodabar, ZXing::BarcodeFormat::Codabar},
};

const char* typeOf(ZXing::BarcodeFormat format) {
    if (format == ZXing::BarcodeFormat::UPCA) {
        return CaptureMetadataOutput::kEAN13;
    }
    for (const auto& code : kCodeTypes) {
        if (code.format == format) {
            return code.name;
        }
    }
    return nullptr;
}

bool contains(const std::vector<std::string>& types, const std::string& type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

MetadataObject objectOf(const ZXing::Result& result, const char* type, int width, int height) {
    MetadataObject object;
    object.type = type;
    const auto& position = result.position();
    double left = 1;
    double top = 1;
    double right = 0;
    double bottom = 0;
    for (int i = 0; i < 4; ++i) {
        const MetadataPoint p{static_cast<double>(position[i].x) / width,
                              static_cast<double>(position[i].y) / height};
        object.corners.push_back(p);
        left = std::min(left, p.x);
        top = std::min(top, p.y);
        right = std::max(right, p.x);
        bottom = std::max(bottom, p.y);
    }
    object.x = left;
    object.y = top;
    object.width = std::max(0.0, right - left);
    object.height = std::max(0.0, bottom - top);
    if (result.contentType() == ZXing::ContentType::Text
        || result.contentType() == ZXing::ContentType::GS1
        || result.contentType() == ZXing::ContentType::ISO15434
        || result.contentType() == ZXing::ContentType::Mixed) {
        object.stringValue = result.text();
    }
    return object;
}

}  // namespace

std::vector<std::string> CaptureMetadataOutput::codeTypes() {
    std::vector<std::string> types;
    for (const auto& code : kCodeTypes) {
        types.emplace_back(code.name);
    }
    return types;
}

void CaptureMetadataOutput::setMetadataObjectsDelegate(
        std::weak_ptr<MetadataOutputObjectsDelegate> delegate,
        std::shared_ptr<dispatch::Queue> queue) {
    MutexLock lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
}

std::vector<std::string> CaptureMetadataOutput::metadataObjectTypes() const {
    MutexLock lock(mutex_);
    return types_;
}

void CaptureMetadataOutput::setMetadataObjectTypes(std::vector<std::string> types) {
    const auto available = availableMetadataObjectTypes();
    types.erase(std::remove_if(types.begin(), types.end(),
                               [&](const std::string& t) { return !contains(available, t); }),
                types.end());
    MutexLock lock(mutex_);
    types_ = std::move(types);
}

std::vector<std::string> CaptureMetadataOutput::availableMetadataObjectTypes() const {
    if (!session()) {
        return {};
    }
    auto types = codeTypes();
    types.insert(types.begin(), kFace);
    return types;
}

bool CaptureMetadataOutput::deliver(std::vector<MetadataFaceObject> faces) {
    std::weak_ptr<MetadataOutputObjectsDelegate> delegate;
    std::shared_ptr<dispatch::Queue> queue;
    {
        MutexLock lock(mutex_);
        if (!contains(types_, kFace)) {
            return false;
        }
        delegate = delegate_;
        queue = queue_;
    }
    auto link = connection(MediaType::Metadata);
    if (!queue || delegate.expired() || !link) {
        return false;
    }
    auto self = std::static_pointer_cast<CaptureMetadataOutput>(shared_from_this());
    queue->async([self, delegate = std::move(delegate), faces = std::move(faces),
                  link = std::move(link)] {
        if (auto d = delegate.lock()) {
            d->metadataOutput(self, faces, link);
        }
    });
    return true;
}

bool CaptureMetadataOutput::wantsCodes() const {
    MutexLock lock(mutex_);
    return std::any_of(types_.begin(), types_.end(),
                       [](const std::string& t) { return t != kFace; });
}

std::size_t CaptureMetadataOutput::decodeFrame(const media::PixelBuffer& frame) {
    ZXing::BarcodeFormats formats;
    {
        MutexLock lock(mutex_);
        for (const auto& code : kCodeTypes) {
            if (contains(types_, code.name)) {
                formats |= code.format;
            }
        }
        if (contains(types_, kEAN13)) {
            formats |= ZXing::BarcodeFormat::UPCA;
        }
        if (formats.empty() || delegate_.expired() || !queue_) {
            return 0;
        }
    }
    const auto layout = frame.format() == media::PixelFormat::ARGB32 ? ZXing::ImageFormat::XRGB
                                                                     : ZXing::ImageFormat::BGRX;
    const ZXing::ImageView view(frame.data(), frame.width(), frame.height(), layout,
                                static_cast<int>(frame.bytesPerRow()));
    // Matrix codes: every symbol of the frame. Bar codes: the first one only, since zxing-cpp
    // 1.4 aborts when it merges several bar-code results of one frame.
    const auto matrix = formats & ZXing::BarcodeFormat::MatrixCodes;
    const auto linear = formats & ZXing::BarcodeFormat::LinearCodes;
    ZXing::Results results;
    if (!matrix.empty()) {
        results = ZXing::ReadBarcodes(view, ZXing::DecodeHints().setFormats(matrix));
    }
    if (!linear.empty()) {
        auto bars = ZXing::ReadBarcodes(
                view, ZXing::DecodeHints().setFormats(linear).setMaxNumberOfSymbols(1));
        results.insert(results.end(), bars.begin(), bars.end());
    }
    std::vector<MetadataObject> objects;
    for (const auto& result : results) {
        const char* type = typeOf(result.format());
        if (result.isValid() && type) {
            objects.push_back(objectOf(result, type, frame.width(), frame.height()));
        }
    }
    const std::size_t count = objects.size();
    return deliverObjects(std::move(objects)) ? count : 0;
}

bool CaptureMetadataOutput::deliverObjects(std::vector<MetadataObject> objects) {
    std::weak_ptr<MetadataOutputObjectsDelegate> delegate;
    std::shared_ptr<dispatch::Queue> queue;
    std::vector<std::string> types;
    {
        MutexLock lock(mutex_);
        types = types_;
        delegate = delegate_;
        queue = queue_;
    }
    objects.erase(std::remove_if(objects.begin(), objects.end(),
                                 [&](const MetadataObject& o) { return !contains(types, o.type); }),
                  objects.end());
    auto link = connection(MediaType::Metadata);
    if (objects.empty() || !queue || delegate.expired() || !link) {
        return false;
    }
    auto self = std::static_pointer_cast<CaptureMetadataOutput>(shared_from_this());
    queue->async([self, delegate = std::move(delegate), objects = std::move(objects),
                  link = std::move(link)] {
        if (auto d = delegate.lock()) {
            d->metadataOutputObjects(self, objects, link);
        }
    });
    return true;
}

}  // namespace pelmar::av
