#include "pelmar/player/internal/TokenRoad.h"

#include <fstream>
#include <system_error>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/core/PelmarVideos.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/player/internal/PlayerText.h"
#include "pelmar/player/internal/SubtitledComposition.h"

namespace pelmar::player::internal {

namespace {

// The non-empty "words" and "times" arrays of a stream description's transcription, if any.
std::optional<std::pair<Json, Json>> transcriptionOf(const std::optional<Json>& stream) {
    if (!stream || !stream->is_object()) {
        return std::nullopt;
    }
    const auto it = stream->find("audio_transcription");
    if (it == stream->end() || !it->is_object()) {
        return std::nullopt;
    }
    const auto words = it->find("words");
    const auto times = it->find("times");
    if (words == it->end() || times == it->end() || !words->is_array() || !times->is_array()
        || words->empty() || times->empty()) {
        return std::nullopt;
    }
    return std::make_pair(*words, *times);
}

}  // namespace

std::filesystem::path writeSubtitleFile(const std::optional<Json>& words,
                                        const std::optional<Json>& times) {
    const auto folder = foundation::Sandbox::documentsDirectory();
    const auto path = folder / (uniqueName() + ".vtt");
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    std::ofstream{path};
    const std::string text = renderVTT(words.value_or(Json()), times.value_or(Json()),
                                       [&](const std::string& soFar) {
                                           foundation::Log::write("vtt: " + soFar);
                                           foundation::Log::write("output file: " + path.string());
                                       });
    // Written beside and moved over, so that a reader never sees half a file.
    const auto partial = path.string() + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            std::filesystem::remove(partial, ignored);
            return path;
        }
    }
    std::filesystem::rename(partial, path, ignored);
    return path;
}

void buildTokenSource(const std::shared_ptr<Pelmar>& application,
                      const std::string& token,
                      const std::optional<Json>& params,
                      std::function<void(TokenSource)> callback) {
    auto connect = application ? application->connect() : nullptr;
    auto videos = application ? application->videos() : nullptr;
    if (!connect || !videos) {
        callback({});
        return;
    }
    const std::weak_ptr<Pelmar> weakApplication = application;
    connect->addSessionData(
            params.value_or(Json::object()), "",
            [weakApplication, videos, token, callback](std::optional<Json> entries) {
                const std::string videoUrl = videos->getVideoUrl(token);
                if (videoUrl.empty()) {
                    callback({});
                    return PelmarConnect::Task();
                }
                TokenSource source;
                source.url = tokenRoadURL(videoUrl, entries.value_or(Json::object()), drawSeed());
                return videos->getOriginalStreamDescriptionForVideo(
                        token, std::nullopt,
                        [weakApplication, source, callback](std::optional<Json> stream, auto,
                                                            std::optional<Error> error) mutable {
                            const auto transcription =
                                    error ? std::nullopt : transcriptionOf(stream);
                            if (!transcription) {
                                callback(std::move(source));
                                return;
                            }
                            source.subtitles =
                                    writeSubtitleFile(transcription->first, transcription->second);
                            const auto facade = weakApplication.lock();
                            const bool show =
                                    facade && facade->getVideoPlayerConfig()->shouldShowSubtitles;
                            const auto video = av::URLAsset::create(source.url);
                            const auto text =
                                    show ? av::URLAsset::create(source.subtitles->string())
                                         : nullptr;
                            source.composition = subtitledComposition(*video, text.get());
                            callback(std::move(source));
                        });
            });
}

}  // namespace pelmar::player::internal
