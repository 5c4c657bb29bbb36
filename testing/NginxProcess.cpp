#include "testing/NginxProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "testing/LoopbackPort.h"

extern char** environ;

namespace pelmar::test {

namespace {

using Clock = std::chrono::steady_clock;

class ScopedFd {
public:
    explicit ScopedFd(int fd) : fd_(fd) {}

    ~ScopedFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    ScopedFd(const ScopedFd&) = delete;
    ScopedFd& operator=(const ScopedFd&) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

// A descriptor that becomes readable when the child `pid` exits (through the system call: the C
// library's declaration lacks C linkage in C++ on this Debian release).
int OpenPidFd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000));
}

// Waits until `fd` (a pid file descriptor) is readable, that is the process has exited.
bool Exits(const ScopedFd& fd, std::chrono::milliseconds timeout) {
    pollfd exited{fd.get(), POLLIN, 0};
    const auto deadline = Clock::now() + timeout;
    int rc = 0;
    while ((rc = ::poll(&exited, 1, RemainingMs(deadline))) < 0 && errno == EINTR) {
    }
    return rc > 0;
}

}  // namespace

NginxProcess::~NginxProcess() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::optional<std::string> NginxProcess::ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool NginxProcess::Available() {
    return ::access(kNginxPath, X_OK) == 0;
}

const std::filesystem::path& NginxProcess::dir() {
    if (dir_.empty()) {
        std::string pattern =
                (std::filesystem::temp_directory_path() / "pelmar-nginx-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("can't make a folder for nginx");
        }
        dir_ = pattern;
    }
    return dir_;
}

std::string NginxProcess::Log() const {
    return dir_.empty() ? std::string() : ReadFile(dir_ / "error.log").value_or("");
}

void NginxProcess::Start(const Config& config) {
    if (!Available()) {
        throw std::runtime_error(std::string("nginx is not installed at ") + kNginxPath);
    }
    dir();
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (TryStart(config, FreeLoopbackPort())) {
            return;
        }
    }
    throw std::runtime_error("nginx did not start: " + Log());
}

bool NginxProcess::TryStart(const Config& config, uint16_t port) {
    const auto configPath = dir_ / "nginx.conf";
    const auto pidPath = dir_ / "nginx.pid";
    std::filesystem::remove(pidPath);
    {
        std::ofstream out(configPath, std::ios::trunc);
        out << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
            << "pid " << pidPath.string() << ";\n"
            << "error_log " << (dir_ / "error.log").string() << " info;\n"
            << config(port)
            // After the blocks: `load_module` must come before the first module's block.
            << "events { worker_connections 64; }\n";
    }
    const std::string prefix = dir_.string() + "/";
    const std::string errorLog = (dir_ / "error.log").string();
    std::vector<std::string> args = {kNginxPath,         "-p", prefix, "-e", errorLog, "-c",
                                     configPath.string()};
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
    // nginx writes its pid file after it has bound its listening sockets, and exits when the
    // port is taken.
    if (WaitForFile(pidPath, [](const std::optional<std::string>& contents) {
            return contents && !contents->empty();
        })) {
        port_ = port;
        return true;
    }
    Kill();
    return false;
}

bool NginxProcess::WaitForFile(
        const std::filesystem::path& path,
        const std::function<bool(const std::optional<std::string>& contents)>& ready,
        std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const ScopedFd changes(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (changes.get() < 0
        || ::inotify_add_watch(changes.get(), path.parent_path().c_str(),
                               IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_ATTRIB)
                   < 0) {
        throw std::system_error(errno, std::generic_category(),
                                "can't watch " + path.parent_path().string());
    }
    // An exited child stays a zombie until Stop or Kill reaps it, so its pid is still ours.
    const ScopedFd exited(pid_ > 0 ? OpenPidFd(pid_) : -1);
    for (;;) {
        // The watch is in place before each look, so no change between them is missed.
        if (ready(ReadFile(path))) {
            return true;
        }
        pollfd fds[2] = {{changes.get(), POLLIN, 0}, {exited.get(), POLLIN, 0}};
        const int rc = ::poll(fds, 2, RemainingMs(deadline));
        if (rc < 0 && errno == EINTR) {
            continue;
        }
        if (rc <= 0) {
            return false;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return ready(ReadFile(path));
        }
        char events[4096];
        while (::read(changes.get(), events, sizeof events) > 0) {
        }
    }
}

void NginxProcess::EndWith(int signal, std::chrono::milliseconds grace) {
    if (pid_ <= 0) {
        return;
    }
    {
        const ScopedFd exited(OpenPidFd(pid_));
        ::kill(pid_, signal);
        if (signal != SIGKILL && (exited.get() < 0 || !Exits(exited, grace))) {
            ::kill(pid_, SIGKILL);
        }
    }
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void NginxProcess::Stop() {
    EndWith(SIGTERM, std::chrono::seconds(5));
}

void NginxProcess::Kill() {
    EndWith(SIGKILL, std::chrono::milliseconds(0));
}

}  // namespace pelmar::test
