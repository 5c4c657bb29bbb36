// pelmar-demo: the host app of the README's main job. Without arguments it runs the whole road
// against the hosting service emulated in-process: it shows the facade's endpoints, makes a short
// sample video, uploads it with a live progress bar and the uploading delegate's events, lists the
// videos, downloads the file back and checks that it is identical. Commands do single steps
// against the embedded service or any service base URL.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/core/ContentModel.h"
#include "pelmar/core/JsonReaders.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarUploadingDelegate.h"
#include "pelmar/core/PelmarVideos.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/net/HTTPURLResponse.h"
#include "pelmar/platform/net/URLOrigin.h"
#include "pelmar/platform/net/URLRequest.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/sync/Mutex.h"
#include "tools/pelmar-demo/SampleVideo.h"
#include "tools/pelmar-demo/ScreenGallery.h"
#ifdef PELMAR_DEMO_EMBEDDED_SERVICE
#include "testing/ServiceEmulator.h"
#endif

namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
        "usage: pelmar-demo [COMMAND] [--service URL] [--token T]\n"
        "\n"
        "  (no command)     the whole road against the embedded service: endpoints, a sample\n"
        "                   video made here, its upload with progress, the list of videos, and\n"
        "                   the download of the file, which must come back identical\n"
        "  endpoints [T...] the service endpoints and start-up options of a facade per token\n"
        "  upload FILE...   uploads the files one after the other, by their extension: videos\n"
        "                   (.mp4 .mov .avi), audios (.mp3 .wav .aac), images (.png .jpg\n"
        "                   .jpeg .bmp)\n"
        "  list             lists the videos\n"
        "  download TOKEN   downloads a video into the local cache and prints its path\n"
        "  screens --out DIR  opens every screen with local media and the synthetic camera and\n"
        "                   microphone, and writes a PNG of each and an index.html into DIR\n"
        "\n"
        "  --service URL    the service's API base (default: the service emulated in this\n"
        "                   process); pelmar-service prints the value to give. For\n"
        "                   http://127.0.0.1:P or http://localhost:P, as pelmar-service serves\n"
        "                   it, the CDN API, regional API and file server are 127.0.0.2, .3\n"
        "                   (/embed) and .4 on the same port; for any other URL all of them are\n"
        "                   URL (regional API URL/embed).\n"
        "  --token T        the application token (default \"demo-app\")\n";

constexpr double kWaitSeconds = 600.0;

// "HTTP 404 (not found)", "HTTP 500", ...
std::string httpStatusText(long status) {
    std::string text = "HTTP " + std::to_string(status);
    if (status == 404) {
        text += " (not found)";
    }
    return text;
}

// Prints what the uploading delegate hears, with a progress bar that redraws in place.
class PrintingDelegate : public pelmar::PelmarUploadingDelegate {
public:
    void preparingToUpload(const std::string& path) override { line("preparing " + path); }

    void failedToUpload(const std::string& path) override { line("failed to upload " + path); }

    void uploadStarted(const std::string&,
                       const std::string& token,
                       const std::string& streamToken,
                       const std::shared_ptr<pelmar::net::URLSessionTask>&) override {
        line("started: video " + token + ", stream " + streamToken);
    }

    void uploadProgress(const std::string&,
                        const std::string&,
                        const std::string&,
                        int64_t sent,
                        int64_t expected) override {
        pelmar::MutexLock lock(mutex_);
        constexpr int kWidth = 30;
        const double fraction = expected > 0 ? static_cast<double>(sent) / expected : 0.0;
        const int filled = static_cast<int>(fraction * kWidth);
        std::printf("\r  [%s%s] %3d%%  %lld / %lld bytes", std::string(filled, '#').c_str(),
                    std::string(kWidth - filled, '.').c_str(), static_cast<int>(fraction * 100),
                    static_cast<long long>(sent), static_cast<long long>(expected));
        std::fflush(stdout);
        barShown_ = true;
    }

    void uploadFinished(const std::string&, const std::string&, const std::string&) override {
        line("transfer finished");
    }

    void uploadProcessing(const std::string&, const std::string&, const std::string&) override {
        line("processing...");
    }

    void uploadVerified(const std::string&,
                        const std::string&,
                        const std::string&,
                        const Response& response,
                        const std::optional<pelmar::Error>& error,
                        const std::optional<pelmar::Json>&) override {
        line("verified: "
             + (error ? error->description()
                      : "HTTP " + std::to_string(response ? response->statusCode() : 0)));
    }

    void uploadProcessed(const std::string&,
                         const std::string& token,
                         const std::string&) override {
        line("processed " + token);
    }

private:
    void line(const std::string& text) {
        pelmar::MutexLock lock(mutex_);
        std::printf("%s  %s\n", barShown_ ? "\n" : "", text.c_str());
        std::fflush(stdout);
        barShown_ = false;
    }

    pelmar::Mutex mutex_;
    bool barShown_ PELMAR_GUARDED_BY(mutex_) = false;
};

void printFacade(const std::string& token) {
    auto pelmar = std::make_shared<pelmar::Pelmar>(token);
    const pelmar::PelmarConfig& config = pelmar->config();
    std::printf("facade for token \"%s\"\n", pelmar->getAppToken().c_str());
    std::printf("  serverAPIUrl     %s\n", config.serverAPIUrl().c_str());
    std::printf("  cdnAPIUrl        %s\n", config.cdnAPIUrl().c_str());
    std::printf("  devServerApiUrl  %s\n", config.devServerApiUrl().c_str());
    std::printf("  fileServerUrl    %s\n", config.fileServerUrl().c_str());
    std::printf("  videoRecorderConfig  %s\n",
                pelmar->getVideoRecorderConfig()->encode().dump().c_str());
    std::printf("  videoPlayerConfig    %s\n",
                pelmar->getVideoPlayerConfig()->encode().dump().c_str());
    std::printf("  qrCodeReaderConfig   %s\n",
                pelmar->getQrScannerConfig()->encode().dump().c_str());
    std::printf("  fileSelectorConfig   %s\n",
                pelmar->getFileSelectorConfig()->encode().dump().c_str());
}

struct Service {
    std::string api;
    std::string cdn;
    std::string dev;
    std::string files;
};

// pelmar-service serves its five hosts on 127.0.0.1 ... .5 at one port; "localhost" names the
// first of them.
Service serviceFor(const std::string& api) {
    for (const std::string loopback : {"http://127.0.0.1:", "http://localhost:"}) {
        if (api.rfind(loopback, 0) == 0) {
            const std::string port = api.substr(loopback.size());
            return {"http://127.0.0.1:" + port, "http://127.0.0.2:" + port,
                    "http://127.0.0.3:" + port + "/embed", "http://127.0.0.4:" + port};
        }
    }
    return {api, api, api + "/embed", api};
}

// `url` without trailing slashes when it is an absolute http or https URL with a host.
std::optional<std::string> serviceBase(std::string url) {
    while (url.size() > 1 && url.back() == '/') {
        url.pop_back();
    }
    if (!pelmar::net::urlOrigin(url)) {
        return std::nullopt;
    }
    return url;
}

// The facade of a host app, pointed at `service`, with the printing delegate.
std::shared_ptr<pelmar::Pelmar> makeFacade(const std::string& token, const Service& service) {
    auto pelmar = std::make_shared<pelmar::Pelmar>(token);
    auto& config = pelmar->config();
    config.setServerAPIUrl(service.api);
    config.setCdnAPIUrl(service.cdn);
    config.setDevServerApiUrl(service.dev);
    config.setFileServerUrl(service.files);
    pelmar->setUploadingDelegate(std::make_shared<PrintingDelegate>());
    return pelmar;
}

bool waitFor(const std::function<bool()>& done) {
    if (!pelmar::dispatch::RunLoop::runUntil(done, kWaitSeconds)) {
        std::fprintf(stderr, "pelmar-demo: no answer from the service\n");
        return false;
    }
    return true;
}

// The confirm answer of a video is its model; of an audio or image, {"audio": model} or
// {"image": model}.
std::string confirmedToken(const pelmar::Json& answer) {
    for (const char* kind : {"audio", "image"}) {
        if (answer.is_object() && answer.contains(kind) && answer[kind].is_object()) {
            return pelmar::getStringValue(answer[kind], "token");
        }
    }
    return pelmar::getStringValue(answer, "token");
}

// Uploads the files one after the other; returns the tokens of the confirmed ones.
std::optional<std::vector<std::string>> upload(pelmar::Pelmar& pelmar,
                                               const std::vector<std::string>& files,
                                               const pelmar::Json& data) {
    std::vector<std::string> tokens;
    size_t answered = 0;
    bool failed = false;
    static const std::vector<std::string> kExtensions = {".mp4", ".mov", ".avi", ".mp3", ".wav",
                                                         ".aac", ".png", ".jpg", ".bmp", ".jpeg"};
    for (const auto& file : files) {
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) {
            std::fprintf(stderr, "pelmar-demo: no file %s\n", file.c_str());
            return std::nullopt;
        }
        std::string extension = fs::path(file).extension().string();
        for (char& c : extension) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (std::find(kExtensions.begin(), kExtensions.end(), extension) == kExtensions.end()) {
            std::fprintf(stderr, "pelmar-demo: %s is not a video, audio or image file\n",
                         file.c_str());
            return std::nullopt;
        }
    }
    pelmar.uploadFromPaths(
            files, data,
            // A failed create ends the upload too, whose answer below says why.
            [](std::optional<pelmar::Json> json, auto, std::optional<pelmar::Error> error) {
                if (!error && json) {
                    std::printf("  created: %s\n", json->dump().substr(0, 120).c_str());
                }
            },
            [](int64_t, int64_t) {},
            [&](std::optional<pelmar::Json> json,
                std::shared_ptr<const pelmar::net::HTTPURLResponse> response,
                std::optional<pelmar::Error> error) {
                ++answered;
                const bool ok = !error && response && response->statusCode() / 100 == 2 && json;
                if (!ok) {
                    failed = true;
                    std::string why = "no answer";
                    if (error) {
                        why = error->description();
                    } else if (response && response->statusCode() / 100 != 2) {
                        why = "service refused: " + httpStatusText(response->statusCode());
                    } else if (response) {
                        why = "the confirm answer is not JSON";
                    }
                    std::printf("  upload failed: %s\n", why.c_str());
                    return;
                }
                const std::string token = confirmedToken(*json);
                if (token.empty()) {
                    failed = true;
                    std::printf("  upload failed: the confirm answer has no token: %s\n",
                                json->dump().substr(0, 120).c_str());
                    return;
                }
                tokens.push_back(token);
            });
    if (!waitFor([&] { return answered == files.size(); })) {
        return std::nullopt;
    }
    if (failed) {
        return std::nullopt;
    }
    return tokens;
}

std::optional<std::vector<pelmar::ContentModel>> list(pelmar::Pelmar& pelmar) {
    std::optional<std::vector<pelmar::ContentModel>> items;
    std::optional<pelmar::Error> error;
    pelmar.videos()->index(std::nullopt, [&](auto models, std::optional<pelmar::Error> e) {
        error = e;
        items = std::move(models);
    });
    if (!waitFor([&] { return items.has_value(); })) {
        return std::nullopt;
    }
    if (error) {
        std::fprintf(stderr, "pelmar-demo: list failed: %s\n", error->description().c_str());
        return std::nullopt;
    }
    std::printf("videos (%zu):\n", items->size());
    for (const auto& item : *items) {
        std::printf("  %-12s %-10s %s\n", item.token.value_or("").c_str(),
                    item.stateString.value_or("").c_str(), item.title.value_or("").c_str());
    }
    return items;
}

// What a GET of `url` meets: the transfer error, or the HTTP status ("" for a 2xx answer).
std::string whyNotFetched(const std::string& url) {
    auto why = std::make_shared<std::optional<std::string>>();
    auto task = pelmar::net::URLSession::shared()->dataTask(
            pelmar::net::URLRequest(url),
            [why](std::optional<std::string>,
                  std::shared_ptr<const pelmar::net::HTTPURLResponse> response,
                  std::optional<pelmar::Error> error) {
                std::string text;
                if (error) {
                    text = error->description();
                } else if (!response) {
                    text = "no HTTP answer";
                } else if (response->statusCode() / 100 != 2) {
                    text = httpStatusText(response->statusCode());
                }
                pelmar::dispatch::Queue::main()->async([why, text] { *why = text; });
            });
    task->resume();
    if (!pelmar::dispatch::RunLoop::runUntil([&] { return why->has_value(); }, kWaitSeconds)) {
        return "no answer";
    }
    return **why;
}

std::optional<std::string> download(pelmar::Pelmar& pelmar, const std::string& token) {
    std::optional<std::string> path;
    pelmar.videos()->download(token, [&](std::string result) { path = std::move(result); });
    if (!waitFor([&] { return path.has_value(); })) {
        return std::nullopt;
    }
    // The SDK answers the cache path, or the file's URL when the download failed, or nothing
    // when it could not even start.
    if (path->empty()) {
        std::fprintf(stderr,
                     "pelmar-demo: download of %s failed: the token cannot name a file, or "
                     "there is no cache folder\n",
                     token.c_str());
        return std::nullopt;
    }
    if (path->find("://") != std::string::npos) {
        std::string why = whyNotFetched(*path);
        if (why.empty()) {
            why = "the file could not be stored in the cache";
        }
        std::fprintf(stderr, "pelmar-demo: download of %s failed: %s (%s)\n", token.c_str(),
                     why.c_str(), path->c_str());
        return std::nullopt;
    }
    std::printf("downloaded %s to %s\n", token.c_str(), path->c_str());
    return path;
}

bool sameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream first(a, std::ios::binary);
    std::ifstream second(b, std::ios::binary);
    return first && second
           && std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                         std::istreambuf_iterator<char>(second), std::istreambuf_iterator<char>());
}

int wholeRoad(const std::string& token, const Service& service) {
    std::printf("== endpoints\n");
    printFacade(token);
    printFacade("r1-" + token);

    std::printf("\n== sample video\n");
    // One name per process, so that demos running at the same time keep their own samples.
    const fs::path sample = pelmar::foundation::Sandbox::temporaryDirectory()
                            / ("pelmar-demo-" + std::to_string(::getpid()) + ".mp4");
    fs::remove(sample);

    struct Removal {
        fs::path path;

        ~Removal() {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    } removal{sample};

    if (auto error = pelmar::demo::writeSampleVideo(sample)) {
        std::fprintf(stderr, "pelmar-demo: %s\n", error->c_str());
        return 1;
    }
    std::printf("wrote %s (%ju bytes)\n", sample.c_str(),
                static_cast<uintmax_t>(fs::file_size(sample)));

    std::printf("\n== upload\n");
    auto pelmar = makeFacade(token, service);
    const auto tokens = upload(*pelmar, {sample.string()}, pelmar::Json{{"title", "Pelmar demo"}});
    if (!tokens || tokens->size() != 1 || tokens->front().empty()) {
        return 1;
    }

    std::printf("\n== list\n");
    const auto items = list(*pelmar);
    if (!items) {
        return 1;
    }

    std::printf("\n== download\n");
    const auto path = download(*pelmar, tokens->front());
    if (!path) {
        return 1;
    }
    if (!sameBytes(sample, *path)) {
        std::fprintf(stderr, "pelmar-demo: the downloaded file differs from the upload\n");
        return 1;
    }
    std::printf("identical to the uploaded file: the whole road works\n");
    return 0;
}

int usageError(const std::string& message) {
    std::cerr << "pelmar-demo: " << message << "\n\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command;
    std::vector<std::string> arguments;
    std::optional<std::string> serviceUrl;
    std::string token = "demo-app";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--service" || arg == "--token") {
            if (i + 1 >= argc || std::string_view(argv[i + 1]).empty()) {
                return usageError(std::string(arg) + " needs a value");
            }
            const std::string value = argv[++i];
            if (arg == "--token") {
                token = value;
            } else if (auto base = serviceBase(value)) {
                serviceUrl = std::move(*base);
            } else {
                return usageError("--service needs an http:// or https:// URL with a host, not "
                                  + value);
            }
        } else if (command.empty()) {
            command = arg;
        } else {
            arguments.emplace_back(arg);
        }
    }
    if (command == "screens") {
        return pelmar::demo::runScreenGallery(arguments);
    }
    if (command == "endpoints") {
        if (arguments.empty()) {
            arguments = {token, "r1-" + token};
        }
        for (const auto& each : arguments) {
            printFacade(each);
        }
        return 0;
    }
    if (!command.empty() && command != "upload" && command != "list" && command != "download") {
        return usageError("unknown command " + command);
    }
    if ((command == "upload" && arguments.empty())
        || (command == "download" && arguments.size() != 1)
        || (command == "list" && !arguments.empty())) {
        return usageError("wrong arguments for " + command);
    }

    Service service;
#ifdef PELMAR_DEMO_EMBEDDED_SERVICE
    std::unique_ptr<pelmar::test::ServiceEmulator> emulator;
#endif
    if (serviceUrl) {
        service = serviceFor(*serviceUrl);
    } else {
#ifdef PELMAR_DEMO_EMBEDDED_SERVICE
        emulator = std::make_unique<pelmar::test::ServiceEmulator>();
        try {
            emulator->start();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "pelmar-demo: cannot start the embedded service: %s\n",
                         error.what());
            return 1;
        }
        service = {emulator->apiBase(), emulator->cdnApiBase(), emulator->devApiBase(),
                   emulator->fileServerBase()};
        std::printf("embedded service: API %s, storage %s\n", service.api.c_str(),
                    emulator->storageBase().c_str());
#else
        return usageError("this build has no embedded service: give --service URL");
#endif
    }

    pelmar::foundation::Sandbox::setAppIdentifier("pelmar-demo");
    if (command.empty()) {
        return wholeRoad(token, service);
    }
    auto pelmar = makeFacade(token, service);
    if (command == "upload") {
        const auto tokens = upload(*pelmar, arguments, pelmar::Json::object());
        return tokens ? 0 : 1;
    }
    if (command == "list") {
        return list(*pelmar) ? 0 : 1;
    }
    return download(*pelmar, arguments.front()) ? 0 : 1;
}
