// 200 distinct JPEG images of 50-200 KB from a loopback server, each downloaded and decoded:
// through the image loader's download queue (10 downloads at once) against libcurl multi with 10
// parallel handles and the same decode on as many threads. The best of three interleaved runs
// per side is kept. The last line gives our wall time over libcurl's and the most connections
// the server saw open at once during our runs.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarDecodedImage.h"
#include "pelmar/imageloader/PelmarRemoteImageDownloadQueue.h"
#include "pelmar/imageloader/PelmarURLSessionManager.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "testing/ScriptedHttpServer.h"

namespace {

constexpr int kImages = 200;
constexpr unsigned kParallel = 10;
constexpr int kRuns = 3;

using Clock = std::chrono::steady_clock;

std::vector<std::string> makeImages() {
    std::vector<std::string> images;
    std::mt19937 random(7);
    while (static_cast<int>(images.size()) < kImages) {
        const int width = 320 + static_cast<int>(random() % 400);
        const int height = 240 + static_cast<int>(random() % 300);
        auto jpeg = pelmar::image::test::jpeg(
                *pelmar::image::test::photo(width, height, static_cast<uint32_t>(images.size())),
                92);
        if (jpeg.size() >= 50 * 1024 && jpeg.size() <= 200 * 1024) {
            images.push_back(std::move(jpeg));
        }
    }
    return images;
}

bool decodes(const std::string& data) {
    return pelmar::PelmarDecodedImage::decodedImageWithData(data) != nullptr;
}

// Collects each task's bytes as the session manager forwards them.
class Collector : public pelmar::PelmarURLSessionManagerDelegate {
public:
    void didReceiveData(const std::string& data, const pelmar::PelmarDataTask& task) override {
        std::lock_guard lock(mutex_);
        bodies_[task->taskIdentifier()] += data;
    }

    std::string take(uint64_t identifier) {
        std::lock_guard lock(mutex_);
        auto body = std::move(bodies_[identifier]);
        bodies_.erase(identifier);
        return body;
    }

private:
    std::mutex mutex_;
    std::map<uint64_t, std::string> bodies_;
};

double runOurs(const pelmar::test::ScriptedHttpServer& server) {
    auto manager = pelmar::PelmarURLSessionManager::create({});
    auto collector = std::make_shared<Collector>();
    manager->setDelegate(collector);
    auto queue = pelmar::PelmarRemoteImageDownloadQueue::queueWithMaxConcurrentDownloads(kParallel);
    std::mutex mutex;
    std::condition_variable done;
    int finished = 0;
    int decoded = 0;
    const auto start = Clock::now();
    for (int i = 0; i < kImages; ++i) {
        pelmar::net::URLRequest request;
        request.url = server.url("/img/" + std::to_string(i) + ".jpg");
        auto task = std::make_shared<pelmar::PelmarDataTask>();
        *task = queue->addDownloadWithSessionManager(
                *manager, request, pelmar::kPelmarRemoteImageManagerPriorityDefault,
                [&, task](const auto&, const std::optional<pelmar::Error>& error) {
                    const bool ok = !error && decodes(collector->take((*task)->taskIdentifier()));
                    std::lock_guard lock(mutex);
                    ++finished;
                    decoded += ok ? 1 : 0;
                    done.notify_all();
                });
    }
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished == kImages; });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (decoded != kImages) {
        std::fprintf(stderr, "ours: only %d of %d images decoded\n", decoded, kImages);
    }
    return seconds;
}

size_t appendBody(char* data, size_t size, size_t count, void* userdata) {
    static_cast<std::string*>(userdata)->append(data, size * count);
    return size * count;
}

double runCurl(const pelmar::test::ScriptedHttpServer& server) {
    CURLM* multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, static_cast<long>(kParallel));
    std::vector<std::string> bodies(kImages);
    std::vector<CURL*> handles(kImages);
    std::vector<std::future<bool>> decodings;
    const auto start = Clock::now();
    int next = 0;
    int active = 0;
    const auto add = [&] {
        CURL* easy = curl_easy_init();
        const std::string url = server.url("/img/" + std::to_string(next) + ".jpg");
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bodies[static_cast<size_t>(next)]);
        curl_easy_setopt(easy, CURLOPT_PRIVATE,
                         reinterpret_cast<char*>(static_cast<intptr_t>(next)));
        curl_multi_add_handle(multi, easy);
        handles[static_cast<size_t>(next)] = easy;
        ++next;
        ++active;
    };
    while (next < kImages && active < static_cast<int>(kParallel)) {
        add();
    }
    while (active > 0) {
        int running = 0;
        curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            char* tag = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &tag);
            const auto index = static_cast<size_t>(reinterpret_cast<intptr_t>(tag));
            curl_multi_remove_handle(multi, message->easy_handle);
            curl_easy_cleanup(message->easy_handle);
            --active;
            decodings.push_back(std::async(std::launch::async,
                                           [&bodies, index] { return decodes(bodies[index]); }));
            if (next < kImages) {
                add();
            }
        }
        curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    int decoded = 0;
    for (auto& decoding : decodings) {
        decoded += decoding.get() ? 1 : 0;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    curl_multi_cleanup(multi);
    if (decoded != kImages) {
        std::fprintf(stderr, "curl: only %d of %d images decoded\n", decoded, kImages);
    }
    return seconds;
}

}  // namespace

int main() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const auto images = makeImages();
    const auto serve = [&](const pelmar::test::ScriptedRequest& request) {
        pelmar::test::ScriptedReply reply;
        const auto slash = request.target.rfind('/');
        const int index = std::stoi(request.target.substr(slash + 1));
        reply.body = images.at(static_cast<size_t>(index));
        reply.headers.emplace_back("Content-Type", "image/jpeg");
        return reply;
    };
    double ours = 1e9;
    double curl = 1e9;
    int peak = 0;
    for (int run = 0; run < kRuns; ++run) {
        {
            pelmar::test::ScriptedHttpServer server(serve);
            ours = std::min(ours, runOurs(server));
            peak = std::max(peak, server.peakConnections());
        }
        {
            pelmar::test::ScriptedHttpServer server(serve);
            curl = std::min(curl, runCurl(server));
        }
    }
    std::printf("ours %.3f s, libcurl multi %.3f s for %d images\n", ours, curl, kImages);
    std::printf("image_download: ratio=%.2f peak_connections=%d\n", ours / curl, peak);
    curl_global_cleanup();
    return 0;
}
