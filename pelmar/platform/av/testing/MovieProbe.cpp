#include "pelmar/platform/av/testing/MovieProbe.h"

#include <cstdio>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

namespace pelmar::av::test {

namespace {

std::optional<std::string> run(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        out.append(buffer, n);
    }
    if (::pclose(pipe) != 0) {
        return std::nullopt;
    }
    return out;
}

std::string quoted(const std::filesystem::path& file) {
    std::string q = "'";
    for (char c : file.string()) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

double number(const Json& object, const char* key) {
    if (!object.contains(key)) {
        return 0;
    }
    const auto& v = object[key];
    if (v.is_string()) {
        try {
            return std::stod(v.get<std::string>());
        } catch (...) {
            return 0;
        }
    }
    return v.is_number() ? v.get<double>() : 0;
}

}  // namespace

std::optional<MovieProbe> MovieProbe::probe(const std::filesystem::path& file) {
    const auto out =
            run("ffprobe -v error -count_packets -show_entries "
                "stream=codec_type,codec_name,width,height,sample_rate,channels,"
                "start_time,duration,nb_read_packets:format=duration -of json "
                + quoted(file));
    if (!out) {
        return std::nullopt;
    }
    const Json json = Json::parse(*out, nullptr, false);
    if (json.is_discarded() || !json.contains("streams")) {
        return std::nullopt;
    }
    MovieProbe probe;
    for (const auto& stream : json["streams"]) {
        const auto type = stream.value("codec_type", std::string());
        if (type == "video") {
            probe.videoCodec = stream.value("codec_name", std::string());
            probe.width = stream.value("width", 0);
            probe.height = stream.value("height", 0);
            probe.videoFrames = static_cast<int64_t>(number(stream, "nb_read_packets"));
            probe.videoStart = number(stream, "start_time");
            probe.videoDuration = number(stream, "duration");
        } else if (type == "audio") {
            probe.audioCodec = stream.value("codec_name", std::string());
            probe.sampleRate = static_cast<int>(number(stream, "sample_rate"));
            probe.channels = stream.value("channels", 0);
            probe.audioStart = number(stream, "start_time");
            probe.audioDuration = number(stream, "duration");
        }
    }
    if (json.contains("format")) {
        probe.duration = number(json["format"], "duration");
    }
    return probe;
}

std::optional<std::array<int, 3>> MovieProbe::pixel(const std::filesystem::path& file,
                                                    int index,
                                                    int x,
                                                    int y) {
    const auto out =
            run("ffmpeg -v error -i " + quoted(file) + " -vf \"format=rgb24,crop=1:1:"
                + std::to_string(x) + ":" + std::to_string(y) + ",select=eq(n\\,"
                + std::to_string(index) + ")\" -vsync 0 -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    if (!out || out->size() < 3) {
        return std::nullopt;
    }
    return std::array<int, 3>{static_cast<unsigned char>((*out)[0]),
                              static_cast<unsigned char>((*out)[1]),
                              static_cast<unsigned char>((*out)[2])};
}

}  // namespace pelmar::av::test
