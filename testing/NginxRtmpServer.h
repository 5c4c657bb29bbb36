#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "testing/NginxProcess.h"
#include "testing/Patience.h"

// NginxRtmpServer: a real RTMP server for tests and benchmarks: nginx with its RTMP module on a
// free loopback port (see NginxProcess). Application "live" records every stream it receives
// into recordDir() (<stream name>.flv) and, once a recording is closed, creates
// <stream name>.flv.done next to it; "myapp/test" only relays. Pings every 2 s with a 1 s
// time-out, messages up to 16 MiB.
// Ownership: owns its NginxProcess (the child process and the folder).
// Threads: thread-compatible.
// Errors: std::runtime_error from Start when nginx or its RTMP module is missing or nginx does not
//         come up on any of a few ports.

namespace pelmar::test {

class NginxRtmpServer {
public:
    static constexpr const char* kModulePath = "/usr/lib/nginx/modules/ngx_rtmp_module.so";
    static constexpr const char* kNginxPath = NginxProcess::kNginxPath;

    NginxRtmpServer() = default;

    NginxRtmpServer(const NginxRtmpServer&) = delete;
    NginxRtmpServer& operator=(const NginxRtmpServer&) = delete;

    // True when nginx and the RTMP module are installed.
    static bool Available();

    void Start();

    // Ends nginx (SIGTERM, then SIGKILL if it lingers) and waits for it.
    void Stop() { process_.Stop(); }

    // Ends nginx at once with SIGKILL, as a crash would; the folder stays until destruction.
    void Kill() { process_.Kill(); }

    uint16_t port() const { return process_.port(); }

    // rtmp://127.0.0.1:<port>/<app>
    std::string Url(const std::string& app = "live") const;

    const std::filesystem::path& recordDir() const { return recordDir_; }

    // Waits (without sleeping) until nginx has closed the recording of `stream` in application
    // "live"; its path, or empty when it was not closed within `timeout`.
    std::filesystem::path WaitForRecording(const std::string& stream,
                                           std::chrono::milliseconds timeout = kPatience);

    // The error log, for failure messages.
    std::string Log() const { return process_.Log(); }

private:
    NginxProcess process_;
    std::filesystem::path recordDir_;
};

}  // namespace pelmar::test
