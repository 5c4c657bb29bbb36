// Throughput of the RTMP codecs against memcpy of the same bytes, the physical limit: cutting
// 1 MiB messages into 4096-byte chunks, rebuilding them from those chunks, and AMF0 encoding and
// decoding of a typical command. The last line gives the chunking and parsing ratios to memcpy.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/AMF0.h"
#include "pelmar/live/MediaCallback.h"
#include "pelmar/live/RTMPChunkFormatter.h"
#include "pelmar/live/RTMPChunkParser.h"

namespace {

using namespace pelmar::live;

constexpr size_t kMessageSize = size_t{1} << 20;
constexpr size_t kChunkSize = 4096;

std::vector<uint8_t> MessageBody() {
    std::vector<uint8_t> body(kMessageSize);
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<uint8_t>(i * 131 + 7);
    }
    return body;
}

RTMPPacket VideoMessage() {
    RTMPPacket packet(MediaType::Video, MediaCodec::H264, RTMPChannel::Video, RTMPPacketType::Video,
                      1);
    packet.Data() = MessageBody();
    return packet;
}

void Memcpy(benchmark::State& state) {
    const auto source = MessageBody();
    std::vector<uint8_t> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageSize));
}

void ChunkFormatting(benchmark::State& state) {
    size_t chunks = 0;
    RTMPChunkFormatter formatter(std::make_shared<MediaCallback<RTMPChunk>>([&](RTMPChunk chunk) {
                                     benchmark::DoNotOptimize(chunk.Data().data());
                                     ++chunks;
                                 }),
                                 RTMPChannel::Video);
    formatter.SetChunkSize(kChunkSize);
    auto packet = VideoMessage();
    double pts = 0;
    for (auto _ : state) {
        packet.SetPTS(pts += 0.04);
        formatter.PutFrame(packet);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageSize));
    state.counters["chunks_per_message"] =
            static_cast<double>(chunks) / static_cast<double>(state.iterations());
}

void ChunkParsing(benchmark::State& state) {
    std::vector<RTMPChunk> chunks;
    RTMPChunkFormatter formatter(std::make_shared<MediaCallback<RTMPChunk>>(
                                         [&](RTMPChunk chunk) { chunks.push_back(chunk); }),
                                 RTMPChannel::Video);
    formatter.SetChunkSize(kChunkSize);
    formatter.PutFrame(VideoMessage());

    size_t delivered = 0;
    RTMPChunkParser parser(std::make_shared<MediaCallback<RTMPPacket>>([&](RTMPPacket message) {
                               benchmark::DoNotOptimize(message.Data().data());
                               delivered += message.Data().size();
                           }),
                           RTMPChannel::Video);
    parser.SetChunkSize(kChunkSize);
    for (auto _ : state) {
        for (const auto& chunk : chunks) {
            parser.PutFrame(chunk);
        }
    }
    if (delivered != state.iterations() * kMessageSize) {
        state.SkipWithError("messages lost");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageSize));
}

std::vector<std::shared_ptr<AMFValue>> ConnectCommand() {
    auto object = AMFValue::Object();
    auto& members = dynamic_cast<AMFObject&>(*object);
    members.AddValue("app", AMFValue::String("live"));
    members.AddValue("flashVer", AMFValue::String("FMLE/3.0 (compatible; livestreamer)"));
    members.AddValue("tcUrl", AMFValue::String("rtmp://127.0.0.1:1935/live"));
    members.AddValue("type", AMFValue::String("nonprivate"));
    return {AMFValue::String("connect"), AMFValue::Number(1.0), object};
}

std::vector<uint8_t> Encode(const std::vector<std::shared_ptr<AMFValue>>& values,
                            std::vector<uint8_t>& bytes) {
    bytes.clear();
    BitstreamWriter writer(bytes);
    for (const auto& value : values) {
        value->WriteImpl(writer);
    }
    return bytes;
}

void AMF0Encode(benchmark::State& state) {
    const auto command = ConnectCommand();
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        Encode(command, bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void AMF0Decode(benchmark::State& state) {
    std::vector<uint8_t> bytes;
    Encode(ConnectCommand(), bytes);
    for (auto _ : state) {
        BitstreamReader reader(bytes);
        while (reader.RemainingDataSize() > 0) {
            benchmark::DoNotOptimize(AMFValue::ReadValue(reader));
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(Memcpy);
BENCHMARK(ChunkFormatting);
BENCHMARK(ChunkParsing);
BENCHMARK(AMF0Encode);
BENCHMARK(AMF0Decode);

// Prints as usual and keeps each benchmark's bytes per second for the summary line.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter()
        : ConsoleReporter(isatty(fileno(stdout)) != 0 ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (!run.error_occurred && it != run.counters.end()) {
                bytesPerSecond[run.benchmark_name()] = it->second;
            }
        }
    }

    double Ratio(const std::string& name) const {
        const auto it = bytesPerSecond.find(name);
        const auto peer = bytesPerSecond.find("Memcpy");
        if (it == bytesPerSecond.end() || peer == bytesPerSecond.end() || peer->second <= 0) {
            return 0;
        }
        return it->second / peer->second;
    }

    std::map<std::string, double> bytesPerSecond;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("rtmp_codecs: chunk_vs_memcpy=%.2f parse_vs_memcpy=%.2f\n",
                reporter.Ratio("ChunkFormatting"), reporter.Ratio("ChunkParsing"));
    return 0;
}
