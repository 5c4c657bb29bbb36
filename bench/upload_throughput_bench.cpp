// Upload throughput of the SDK against curl: the same file (1 GiB by default; set
// PELMAR_UPLOAD_BENCH_MIB to change it) is sent as a multipart form to the storage host of the
// loopback service emulator, once through PelmarConnect and once by `curl -F` as a child process.
// The SDK streams the body from disk, so its peak resident memory must not grow with the file.
// The last line gives the throughput ratio (SDK / curl) and the process's peak resident memory
// during the SDK upload (the in-process emulator included).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BestThroughputReporter.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConnect.h"
#include "testing/ServiceEmulator.h"

extern char** environ;

namespace {

using pelmar::Json;

int64_t fileBytes() {
    const char* text = std::getenv("PELMAR_UPLOAD_BENCH_MIB");
    const long long mib = text != nullptr ? std::atoll(text) : 1024;
    return (mib > 0 ? mib : 1024) * 1024 * 1024;
}

// The emulator, a facade pointed at it and the file to send, shared by both benchmarks.
class Setup {
public:
    static Setup& get() {
        static Setup setup;
        return setup;
    }

    pelmar::test::ServiceEmulator& emulator() { return *emulator_; }

    pelmar::PelmarConnect& connect() { return *facade_->connect(); }

    const std::filesystem::path& file() const { return file_; }

    int64_t size() const { return size_; }

    // A new video's storage URL and form fields, or an empty URL.
    std::pair<std::string, Json> createVideo() {
        auto promise = std::make_shared<std::promise<std::optional<Json>>>();
        auto future = promise->get_future();
        connect().postJsonWithPath(
                "/videos/videos-upload-url?create_stream=true", Json{{"title", "bench"}},
                [promise](std::optional<Json> json, auto, auto) { promise->set_value(json); });
        const auto answer = future.get();
        if (!answer || !answer->contains("url_data")) {
            return {};
        }
        return {(*answer)["url_data"]["url"].get<std::string>(), (*answer)["url_data"]["fields"]};
    }

    // Removes what the storage host kept, so that repetitions do not pile up files.
    void dropStoredUploads() {
        for (const auto& upload : emulator_->uploads()) {
            std::error_code ignored;
            std::filesystem::remove(upload.storedFile, ignored);
        }
    }

    ~Setup() {
        facade_.reset();
        emulator_->stop();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        std::filesystem::remove_all(storage_, ignored);
    }

    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;

private:
    Setup() : size_(fileBytes()) {
        std::string pattern =
                (std::filesystem::temp_directory_path() / "pelmar-upload-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        folder_ = pattern;
        file_ = folder_ / "clip.mp4";
        // A sparse file: both uploaders read the same bytes from the page cache, so the disk
        // never decides the outcome.
        { std::ofstream create(file_, std::ios::binary); }
        std::filesystem::resize_file(file_, static_cast<uintmax_t>(size_));

        pelmar::test::ServiceEmulator::Options options;
        options.dataDir = storageFolder();
        std::filesystem::create_directories(options.dataDir);
        emulator_ = std::make_unique<pelmar::test::ServiceEmulator>(options);
        emulator_->start();
        facade_ = std::make_shared<pelmar::Pelmar>("bench-app");
        auto& config = facade_->config();
        config.setServerAPIUrl(emulator_->apiBase());
        config.setCdnAPIUrl(emulator_->cdnApiBase());
        config.setDevServerApiUrl(emulator_->devApiBase());
        config.setFileServerUrl(emulator_->fileServerBase());
    }

    // Where the emulator stores uploads: memory-backed when there is room, so that disk
    // write-back does not decide which uploader looks faster.
    std::filesystem::path storageFolder() {
        std::error_code error;
        const auto space = std::filesystem::space("/dev/shm", error);
        if (!error && space.available > static_cast<uintmax_t>(size_) * 3) {
            std::string pattern = "/dev/shm/pelmar-upload-bench-XXXXXX";
            if (::mkdtemp(pattern.data()) != nullptr) {
                storage_ = pattern;
                return storage_;
            }
        }
        return folder_ / "service";
    }

    int64_t size_;
    std::filesystem::path folder_;
    std::filesystem::path storage_;
    std::filesystem::path file_;
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

void SdkUpload(benchmark::State& state) {
    auto& setup = Setup::get();
    for (auto _ : state) {
        state.PauseTiming();
        auto [url, fields] = setup.createVideo();
        if (url.empty()) {
            state.SkipWithError("the emulator did not create a video");
            return;
        }
        resetPeakRss();
        state.ResumeTiming();

        auto promise = std::make_shared<std::promise<std::string>>();
        auto future = promise->get_future();
        setup.connect().uploadFileWithPath(
                url, fields, "/videos/bench/streams/bench/video_submit", setup.file().string(),
                "file", "video/mp4", "mp4",
                [promise](std::optional<std::string>, pelmar::PelmarConnect::Response response,
                          std::optional<pelmar::Error> error) {
                    if (error) {
                        promise->set_value(error->description());
                    } else if (!response || response->statusCode() != 201) {
                        promise->set_value("storage answered "
                                           + std::to_string(response ? response->statusCode() : 0));
                    } else {
                        promise->set_value("");
                    }
                },
                nullptr);
        const std::string failure = future.get();

        state.PauseTiming();
        sdkPeakRssMiB = std::max(sdkPeakRssMiB, peakRssMiB());
        setup.dropStoredUploads();
        state.ResumeTiming();
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * setup.size());
}

// Runs curl with `arguments` and returns what it printed, or std::nullopt when it failed.
std::optional<std::string> runCurl(const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, "curl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    char buffer[4096];
    ssize_t n = 0;
    while (spawned == 0 && (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeEnds[0]);
    if (spawned != 0) {
        return std::nullopt;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return output;
}

void CurlUpload(benchmark::State& state) {
    auto& setup = Setup::get();
    for (auto _ : state) {
        state.PauseTiming();
        auto [url, fields] = setup.createVideo();
        if (url.empty()) {
            state.SkipWithError("the emulator did not create a video");
            return;
        }
        // The same form as the SDK's, with the 100-continue round trip off as in the SDK.
        std::vector<std::string> arguments = {"curl", "-sS",          "-o", "/dev/null",
                                              "-w",   "%{http_code}", "-H", "Expect:"};
        for (const auto& [key, value] : fields.items()) {
            arguments.push_back("--form-string");
            arguments.push_back(key + "="
                                + (value.is_string() ? value.get<std::string>() : value.dump()));
        }
        arguments.push_back("-F");
        arguments.push_back("file=@" + setup.file().string() + ";filename=file.mp4;type=video/mp4");
        arguments.push_back(url);
        state.ResumeTiming();

        const auto output = runCurl(arguments);

        state.PauseTiming();
        setup.dropStoredUploads();
        state.ResumeTiming();

        if (!output || *output != "201") {
            state.SkipWithError(("curl failed: " + output.value_or("no run")).c_str());
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * setup.size());
}

// Three runs each, interleaved at random; the best run of each counts, so that a moment of
// load from elsewhere on the machine does not decide the ratio.
BENCHMARK(CurlUpload)->Iterations(1)->Repetitions(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SdkUpload)->Iterations(1)->Repetitions(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    pelmar::bench::BestThroughputReporter reporter;
    if (!pelmar::bench::runInterleavedBenchmarks(argc, argv, reporter)) {
        return 1;
    }
    const double sdk = reporter.bestMibPerSecond("SdkUpload");
    const double curl = reporter.bestMibPerSecond("CurlUpload");
    std::printf("file: %.0f MiB; best of 3: sdk %.1f MiB/s, curl -F %.1f MiB/s\n",
                static_cast<double>(Setup::get().size()) / (1024.0 * 1024.0), sdk, curl);
    std::printf("upload_throughput: ratio=%.2f peak_rss_mib=%.1f\n", curl > 0 ? sdk / curl : 0.0,
                sdkPeakRssMiB);
    return 0;
}
