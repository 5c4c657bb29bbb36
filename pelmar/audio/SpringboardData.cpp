#include "pelmar/audio/SpringboardData.h"

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/mediaplayer/NowPlayingInfoCenter.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar {

namespace {

std::string stringAt(const Json& dict, std::string_view key) {
    if (!dict.is_object()) {
        return "";
    }
    const auto it = dict.find(std::string(key));
    return it != dict.end() && it->is_string() ? it->get<std::string>() : "";
}

}  // namespace

Json SpringboardData::springboardDictionary(const std::string& title,
                                            const std::string& artist,
                                            int64_t duration,
                                            const std::string& listScreenTitle,
                                            const std::string& imagePath) {
    Json dict = Json::object();
    dict[std::string(kTitleKey)] = title;
    dict[std::string(kAuthorKey)] = artist;
    dict[std::string(kDurationKey)] = duration;
    dict[std::string(kListScreenTitle)] = listScreenTitle;
    dict[std::string(kImagePath)] = imagePath;
    return dict;
}

void SpringboardData::setupLockScreenElementsWithDictionary(const Json& infoDictionary) {
    Json info = Json::object();
    info[std::string(mediaplayer::kMediaItemPropertyTitle)] = stringAt(infoDictionary, kTitleKey);
    info[std::string(mediaplayer::kMediaItemPropertyArtist)] = stringAt(infoDictionary, kAuthorKey);
    Json duration = 0;
    if (infoDictionary.is_object()) {
        const auto it = infoDictionary.find(std::string(kDurationKey));
        if (it != infoDictionary.end() && it->is_number()) {
            duration = *it;
        }
    }
    info[std::string(mediaplayer::kMediaItemPropertyPlaybackDuration)] = duration;
    info[std::string(mediaplayer::kMediaItemPropertyPodcastTitle)] =
            stringAt(infoDictionary, kListScreenTitle);
    mediaplayer::NowPlayingInfoCenter::defaultCenter().setNowPlayingInfo(std::move(info));
    updateLockScreenImage(stringAt(infoDictionary, kImagePath));
}

void SpringboardData::updateLockScreenCurrentTime(double currentTime) {
    auto& center = mediaplayer::NowPlayingInfoCenter::defaultCenter();
    auto info = center.nowPlayingInfo();
    if (!info) {
        return;
    }
    (*info)[std::string(mediaplayer::kNowPlayingInfoPropertyElapsedPlaybackTime)] = currentTime;
    center.setNowPlayingInfo(std::move(info));
}

void SpringboardData::updateLockScreenImage(const std::string& imagePath) {
    if (!mediaplayer::NowPlayingInfoCenter::defaultCenter().nowPlayingInfo()) {
        return;
    }
    dispatch::Queue::global()->async([imagePath] {
        if (imagePath.empty() || !ui::Image::fromFile(imagePath)) {
            return;
        }
        dispatch::Queue::main()->async([imagePath] {
            // Into the information as it is by now, so that nothing written meanwhile is lost.
            auto& center = mediaplayer::NowPlayingInfoCenter::defaultCenter();
            auto info = center.nowPlayingInfo();
            if (!info) {
                return;
            }
            (*info)[std::string(mediaplayer::kMediaItemPropertyArtwork)] = imagePath;
            center.setNowPlayingInfo(std::move(info));
        });
    });
}

}  // namespace pelmar
