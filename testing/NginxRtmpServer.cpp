#include "testing/NginxRtmpServer.h"

#include <unistd.h>

#include <sstream>
#include <stdexcept>

namespace pelmar::test {

bool NginxRtmpServer::Available() {
    return NginxProcess::Available() && ::access(kModulePath, R_OK) == 0;
}

std::string NginxRtmpServer::Url(const std::string& app) const {
    return "rtmp://127.0.0.1:" + std::to_string(port()) + "/" + app;
}

void NginxRtmpServer::Start() {
    if (!Available()) {
        throw std::runtime_error("nginx with the RTMP module is not installed");
    }
    recordDir_ = process_.dir() / "record";
    std::filesystem::create_directories(recordDir_);
    process_.Start([this](uint16_t port) {
        std::ostringstream out;
        // The marker is made by a new process after nginx has closed the file, so whoever sees
        // it sees the whole recording.
        out << "load_module " << kModulePath << ";\n"
            << "rtmp {\n  server {\n"
            << "    listen 127.0.0.1:" << port << ";\n"
            << "    chunk_size 4096;\n    ping 2s;\n    ping_timeout 1s;\n    max_message 16M;\n"
            << "    application live {\n      live on;\n      record all;\n"
            << "      record_path " << recordDir_.string() << ";\n      record_unique off;\n"
            << "      exec_record_done /usr/bin/touch $path.done;\n"
            << "    }\n"
            << "    application myapp/test {\n      live on;\n    }\n"
            << "  }\n}\n";
        return out.str();
    });
}

std::filesystem::path NginxRtmpServer::WaitForRecording(const std::string& stream,
                                                        std::chrono::milliseconds timeout) {
    const auto path = recordDir_ / (stream + ".flv");
    auto marker = path;
    marker += ".done";
    const bool done = process_.WaitForFile(
            marker, [](const std::optional<std::string>& contents) { return contents.has_value(); },
            timeout);
    return done ? path : std::filesystem::path();
}

}  // namespace pelmar::test
