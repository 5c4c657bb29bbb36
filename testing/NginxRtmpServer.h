#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

// NginxRtmpServer: a real RTMP server for tests and benchmarks: nginx with its RTMP module as a
// child process on a free loopback port, with a generated configuration in a temporary folder.
// Application "live" records every stream it receives into recordDir() (<stream name>.flv);
// "myapp/test" only relays. Pings every 2 s with a 1 s time-out, messages up to 16 MiB.
// Ownership: owns the child process and the folder; Stop (or destruction) ends the process by its
//     pid and removes the folder.
// Threads: thread-compatible.
// Errors: std::runtime_error from Start when nginx or its RTMP module is missing or nginx does not
//     come up on any of a few ports.

namespace pelmar::test {

class NginxRtmpServer {
public:
    static constexpr const char* kModulePath = "/usr/lib/nginx/modules/ngx_rtmp_module.so";
    static constexpr const char* kNginxPath = "/usr/sbin/nginx";

    NginxRtmpServer() = default;
    ~NginxRtmpServer();

    NginxRtmpServer(const NginxRtmpServer&) = delete;
    NginxRtmpServer& operator=(const NginxRtmpServer&) = delete;

    // True when nginx and the RTMP module are installed.
    static bool Available();

    void Start();

    // Ends nginx (SIGTERM, then SIGKILL if it lingers) and waits for it.
    void Stop();

    // Ends nginx at once with SIGKILL, as a crash would; the folder stays until destruction.
    void Kill();

    uint16_t port() const { return port_; }

    // rtmp://127.0.0.1:<port>/<app>
    std::string Url(const std::string& app = "live") const;

    const std::filesystem::path& recordDir() const { return recordDir_; }

    // The error log, for failure messages.
    std::string Log() const;

private:
    bool TryStart(uint16_t port);
    void WaitForExit(int graceMs);

    std::filesystem::path dir_;
    std::filesystem::path recordDir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace pelmar::test
