// QR scanning cost: 1080x1920 camera frames, each holding one QR code (at eight places and
// sizes), decoded by the capture metadata output (the camera's copy of the frame, the decode
// straight from its pixels and the delivery of the found code to a delegate queue), against a
// minimal direct zxing-cpp ReadBarcodes loop on the same frames with the same hints. The last
// line gives our time per frame over the direct call's.
#include <ZXing/BarcodeFormat.h>
#include <ZXing/DecodeHints.h>
#include <ZXing/ImageView.h>
#include <ZXing/ReadBarcode.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/BestThroughputReporter.h"
#include "pelmar/platform/av/CaptureDeviceInput.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/testing/CodeImage.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace {

using namespace pelmar;

constexpr int kWidth = 1080;
constexpr int kHeight = 1920;
constexpr int kDistinctFrames = 8;

const std::vector<std::shared_ptr<media::PixelBuffer>>& frames() {
    static const auto made = [] {
        std::vector<std::shared_ptr<media::PixelBuffer>> list;
        for (int i = 0; i < kDistinctFrames; ++i) {
            const int side = 300 + 60 * i;
            const int left = (kWidth - side) * i / (kDistinctFrames - 1);
            const int top = 200 + 150 * i;
            list.push_back(
                    av::test::CodeImage::qrCode("https://example.test/a?b=" + std::to_string(i),
                                                kWidth, kHeight, {left, top, side}));
        }
        return list;
    }();
    return made;
}

int64_t frameBytes() {
    return static_cast<int64_t>(kWidth) * kHeight * 4;
}

// Counts the codes delivered.
class Counter : public av::MetadataOutputObjectsDelegate {
public:
    void metadataOutputObjects(const std::shared_ptr<av::CaptureMetadataOutput>&,
                               const std::vector<av::MetadataObject>& objects,
                               const std::shared_ptr<av::CaptureConnection>&) override {
        found += static_cast<int>(objects.size());
    }

    std::atomic<int> found{0};
};

void MetadataOutput(benchmark::State& state) {
    auto& environment = av::CaptureEnvironment::shared();
    environment.reset();
    environment.addBackCamera().setManualFeed(true);
    auto session = av::CaptureSession::create();
    session->addInput(
            av::CaptureDeviceInput::create(av::CaptureDevice::defaultDevice(av::MediaType::Video)));
    auto output = av::CaptureMetadataOutput::create();
    session->addOutput(output);
    auto counter = std::make_shared<Counter>();
    auto queue = dispatch::Queue::serial("codes");
    output->setMetadataObjectsDelegate(counter, queue);
    output->setMetadataObjectTypes({av::CaptureMetadataOutput::kQRCode});
    int64_t decoded = 0;
    for (auto _ : state) {
        for (const auto& image : frames()) {
            // The camera's own copy of the picture, as the synthetic camera makes it.
            auto frame = media::PixelBuffer::create(kWidth, kHeight, image->format());
            std::memcpy(frame->data(), image->data(), static_cast<size_t>(frameBytes()));
            decoded += static_cast<int64_t>(output->decodeFrame(*frame));
        }
    }
    queue->sync([] {});
    if (decoded != state.iterations() * kDistinctFrames) {
        state.SkipWithError("not every frame gave its code");
    }
    state.SetBytesProcessed(state.iterations() * kDistinctFrames * frameBytes());
    state.counters["fps"] = benchmark::Counter(static_cast<double>(kDistinctFrames),
                                               benchmark::Counter::kIsIterationInvariantRate);
    environment.reset();
}

void DirectReadBarcodes(benchmark::State& state) {
    int64_t decoded = 0;
    for (auto _ : state) {
        for (const auto& image : frames()) {
            const ZXing::ImageView view(image->data(), kWidth, kHeight, ZXing::ImageFormat::BGRX,
                                        static_cast<int>(image->bytesPerRow()));
            const auto results = ZXing::ReadBarcodes(
                    view, ZXing::DecodeHints().setFormats(ZXing::BarcodeFormat::QRCode));
            decoded += static_cast<int64_t>(results.size());
        }
    }
    if (decoded != state.iterations() * kDistinctFrames) {
        state.SkipWithError("not every frame gave its code");
    }
    state.SetBytesProcessed(state.iterations() * kDistinctFrames * frameBytes());
    state.counters["fps"] = benchmark::Counter(static_cast<double>(kDistinctFrames),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(MetadataOutput)->Repetitions(3)->Unit(benchmark::kMillisecond);
BENCHMARK(DirectReadBarcodes)->Repetitions(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    pelmar::bench::BestThroughputReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double ours = reporter.bestMibPerSecond("MetadataOutput");
    const double direct = reporter.bestMibPerSecond("DirectReadBarcodes");
    if (ours <= 0 || direct <= 0) {
        std::printf("qr_scan: no result\n");
        return 1;
    }
    std::printf("qr_scan: ratio=%.3f\n", direct / ours);
    return 0;
}
