#include "testing/NginxRtmpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "testing/LoopbackPort.h"

extern char** environ;

namespace pelmar::test {

namespace {

bool Accepts(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

NginxRtmpServer::~NginxRtmpServer() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool NginxRtmpServer::Available() {
    return ::access(kNginxPath, X_OK) == 0 && ::access(kModulePath, R_OK) == 0;
}

std::string NginxRtmpServer::Url(const std::string& app) const {
    return "rtmp://127.0.0.1:" + std::to_string(port_) + "/" + app;
}

std::string NginxRtmpServer::Log() const {
    std::ifstream in(dir_ / "error.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void NginxRtmpServer::Start() {
    if (!Available()) {
        throw std::runtime_error("nginx with the RTMP module is not installed");
    }
    if (dir_.empty()) {
        std::string pattern =
                (std::filesystem::temp_directory_path() / "pelmar-nginx-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("can't make a folder for nginx");
        }
        dir_ = pattern;
        recordDir_ = dir_ / "record";
        std::filesystem::create_directories(recordDir_);
    }
    // Another process may take the free port before nginx binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (TryStart(FreeLoopbackPort())) {
            return;
        }
    }
    throw std::runtime_error("nginx did not start: " + Log());
}

bool NginxRtmpServer::TryStart(uint16_t port) {
    const auto config = dir_ / "nginx.conf";
    {
        std::ofstream out(config, std::ios::trunc);
        out << "load_module " << kModulePath << ";\n"
            << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
            << "pid " << (dir_ / "nginx.pid").string() << ";\n"
            << "error_log " << (dir_ / "error.log").string() << " info;\n"
            << "events { worker_connections 64; }\n"
            << "rtmp {\n  server {\n"
            << "    listen 127.0.0.1:" << port << ";\n"
            << "    chunk_size 4096;\n    ping 2s;\n    ping_timeout 1s;\n    max_message 16M;\n"
            << "    application live {\n      live on;\n      record all;\n"
            << "      record_path " << recordDir_.string() << ";\n      record_unique off;\n"
            << "    }\n"
            << "    application myapp/test {\n      live on;\n    }\n"
            << "  }\n}\n";
    }
    const std::string prefix = dir_.string() + "/";
    const std::string errorLog = (dir_ / "error.log").string();
    const std::string configPath = config.string();
    std::vector<std::string> args = {kNginxPath, "-p", prefix, "-e", errorLog, "-c", configPath};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, kNginxPath, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    pid_ = pid;
    // nginx has no ready signal: wait until it accepts, or until it has exited (port taken).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        if (Accepts(port)) {
            port_ = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return false;
}

void NginxRtmpServer::WaitForExit(int graceMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void NginxRtmpServer::Stop() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    WaitForExit(5000);
}

void NginxRtmpServer::Kill() {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace pelmar::test
