// Download throughput of the SDK against curl: the same video file (512 MiB by default; set
// PELMAR_DOWNLOAD_BENCH_MIB to change it) is fetched from the loopback service emulator into the
// local cache, once through the upload engine's download and once by `curl -o` as a child
// process. The SDK streams the answer to disk off the main queue, so its peak resident memory must
// not grow with the file. The last line gives the throughput ratio (SDK / curl) and the process's
// peak resident memory during the SDK download (the in-process emulator included).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/BestThroughputReporter.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarUploadingHandler.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "testing/ServiceEmulator.h"

extern char** environ;

namespace {

int64_t fileBytes() {
    const char* text = std::getenv("PELMAR_DOWNLOAD_BENCH_MIB");
    const long long mib = text != nullptr ? std::atoll(text) : 512;
    return (mib > 0 ? mib : 512) * 1024 * 1024;
}

// The emulator serving one seeded video, and a facade pointed at it, in a sandbox of their own.
class Setup {
public:
    static Setup& get() {
        static Setup setup;
        return setup;
    }

    pelmar::PelmarUploadingHandler& handler() { return *facade_->uploadingHandler(); }

    const std::string& token() const { return token_; }

    std::string remoteURL() { return handler().getPath(pelmar::Media_Type::Video, token_); }

    const std::filesystem::path& folder() const { return folder_; }

    int64_t size() const { return size_; }

    ~Setup() {
        facade_.reset();
        emulator_->stop();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;

private:
    Setup() : size_(fileBytes()) {
        std::string pattern =
                (std::filesystem::temp_directory_path() / "pelmar-download-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        folder_ = pattern;
        pelmar::foundation::Sandbox::setRoot(folder_ / "sandbox");
        const auto file = folder_ / "served.mp4";
        // A sparse file: both readers get the same bytes from the page cache.
        { std::ofstream create(file, std::ios::binary); }
        std::filesystem::resize_file(file, static_cast<uintmax_t>(size_));
        emulator_ = std::make_unique<pelmar::test::ServiceEmulator>();
        emulator_->start();
        token_ = emulator_->seedResource(pelmar::test::MediaKind::Video, "bench-app", file).token;
        facade_ = std::make_shared<pelmar::Pelmar>("bench-app");
        auto& config = facade_->config();
        config.setServerAPIUrl(emulator_->apiBase());
        config.setCdnAPIUrl(emulator_->cdnApiBase());
        config.setDevServerApiUrl(emulator_->devApiBase());
        config.setFileServerUrl(emulator_->fileServerBase());
    }

    int64_t size_;
    std::filesystem::path folder_;
    std::string token_;
    std::unique_ptr<pelmar::test::ServiceEmulator> emulator_;
    std::shared_ptr<pelmar::Pelmar> facade_;
};

// Peak resident memory since the last resetPeakRss(), in MiB (VmHWM).
double peakRssMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return 0;
}

void resetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

double sdkPeakRssMiB = 0;

void SdkDownload(benchmark::State& state) {
    auto& setup = Setup::get();
    for (auto _ : state) {
        state.PauseTiming();
        resetPeakRss();
        state.ResumeTiming();
        std::optional<std::string> path;
        setup.handler().download(pelmar::Media_Type::Video, setup.token(),
                                 [&path](std::string result) { path = std::move(result); });
        pelmar::dispatch::RunLoop::runUntil([&path] { return path.has_value(); }, 3600);
        state.PauseTiming();
        sdkPeakRssMiB = std::max(sdkPeakRssMiB, peakRssMiB());
        const bool ok =
                path && std::filesystem::exists(*path)
                && std::filesystem::file_size(*path) == static_cast<uintmax_t>(setup.size());
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("the download did not reach the cache");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * setup.size());
}

bool runCurl(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, "curl", nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void CurlDownload(benchmark::State& state) {
    auto& setup = Setup::get();
    const auto target = setup.folder() / "curl.mp4";
    for (auto _ : state) {
        if (!runCurl({"curl", "-sS", "--fail", "-o", target.string(), setup.remoteURL()})) {
            state.SkipWithError("curl failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * setup.size());
}

// Three runs each, interleaved at random; the best run of each counts.
BENCHMARK(CurlDownload)
        ->Iterations(1)
        ->Repetitions(3)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
BENCHMARK(SdkDownload)->Iterations(1)->Repetitions(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    pelmar::bench::BestThroughputReporter reporter;
    if (!pelmar::bench::runInterleavedBenchmarks(argc, argv, reporter)) {
        return 1;
    }
    const double sdk = reporter.bestMibPerSecond("SdkDownload");
    const double curl = reporter.bestMibPerSecond("CurlDownload");
    std::printf("file: %.0f MiB; best of 3: sdk %.1f MiB/s, curl -o %.1f MiB/s\n",
                static_cast<double>(Setup::get().size()) / (1024.0 * 1024.0), sdk, curl);
    std::printf("download_throughput: ratio=%.2f peak_rss_mib=%.1f\n", curl > 0 ? sdk / curl : 0.0,
                sdkPeakRssMiB);
    return 0;
}
