#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "testing/Patience.h"

namespace pelmar::test {

// NginxProcess: one nginx for tests, run in the foreground as a single process from a
// configuration generated into its own temporary folder and listening on a free loopback port.
// The servers built on it (RTMP, HTTP) supply the configuration blocks for a port; this class
// picks the port, tries another when a different process took it first, knows nginx is up once
// its pid file is written (after it has bound its sockets) and ends it.
// Ownership: owns the child process and the folder; Stop (or destruction) ends the process by
//     its pid; destruction removes the folder.
// Threads: thread-compatible.
// Errors: std::runtime_error from Start when nginx is missing, the folder can't be made, or
//     nginx does not come up on any of a few ports (its error log is in the text);
//     std::system_error from WaitForFile when the file's folder can't be watched.
class NginxProcess {
public:
    static constexpr const char* kNginxPath = "/usr/sbin/nginx";

    // The blocks of a configuration for a server on 127.0.0.1:<port> (`load_module`, `http`,
    // `rtmp`); the process settings (foreground, one process, pid file and error log in the
    // folder, events) are written around them.
    using Config = std::function<std::string(uint16_t port)>;

    NginxProcess() = default;

    ~NginxProcess();

    NginxProcess(const NginxProcess&) = delete;
    NginxProcess& operator=(const NginxProcess&) = delete;

    static bool Available();

    // The temporary folder, made on first use.
    const std::filesystem::path& dir();

    void Start(const Config& config);

    // Ends nginx (SIGTERM, then SIGKILL if it lingers) and waits for it.
    void Stop();

    // Ends nginx at once with SIGKILL, as a crash would; the folder stays until destruction.
    void Kill();

    uint16_t port() const { return port_; }

    // The error log, for failure messages.
    std::string Log() const;

    // The contents of a file; none when it can't be opened.
    static std::optional<std::string> ReadFile(const std::filesystem::path& path);

    // Waits until `ready` holds for the contents of `path` (none while the file does not exist).
    // It does not sleep: it wakes when something in the file's folder changes or nginx exits.
    // False when the time is up or nginx has exited with `ready` still false.
    bool WaitForFile(const std::filesystem::path& path,
                     const std::function<bool(const std::optional<std::string>& contents)>& ready,
                     std::chrono::milliseconds timeout = kPatience);

private:
    bool TryStart(const Config& config, uint16_t port);

    void EndWith(int signal, std::chrono::milliseconds grace);

    std::filesystem::path dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace pelmar::test
