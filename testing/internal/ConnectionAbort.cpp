#include "testing/internal/ConnectionAbort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

namespace pelmar::test::internal {

namespace {

// "0100007F:1F90" as /proc/net/tcp writes 127.0.0.1:8080.
std::optional<std::string> tableEndpoint(const std::string& address, int port) {
    in_addr ip{};
    if (inet_pton(AF_INET, address.c_str(), &ip) != 1) {
        return std::nullopt;
    }
    char text[16];
    std::snprintf(text, sizeof(text), "%08X:%04X", static_cast<unsigned>(ip.s_addr),
                  static_cast<unsigned>(port));
    return std::string(text);
}

std::optional<std::string> socketInode(const std::string& local, const std::string& remote) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // column titles
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, localField, remoteField, skip, inode;
        fields >> slot >> localField >> remoteField;
        for (int i = 0; i < 6; ++i) {
            fields >> skip;  // state, queues, timers, retransmits, uid, timeout
        }
        fields >> inode;
        if (fields && localField == local && remoteField == remote) {
            return inode;
        }
    }
    return std::nullopt;
}

}  // namespace

bool abortConnection(const std::string& localAddress,
                     int localPort,
                     const std::string& remoteAddress,
                     int remotePort) {
    const auto local = tableEndpoint(localAddress, localPort);
    const auto remote = tableEndpoint(remoteAddress, remotePort);
    if (!local || !remote) {
        return false;
    }
    const auto inode = socketInode(*local, *remote);
    if (!inode) {
        return false;
    }
    const std::string target = "socket:[" + *inode + "]";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        if (std::filesystem::read_symlink(entry.path(), error).string() != target) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        int fd = -1;
        if (std::from_chars(name.data(), name.data() + name.size(), fd).ec != std::errc{}) {
            return false;
        }
        // Zero linger makes httplib's later close() reset the connection at once; a plain FIN
        // would leave a client that is still sending stuck against a full window.
        const linger reset{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
        return ::shutdown(fd, SHUT_RDWR) == 0;
    }
    return false;
}

}  // namespace pelmar::test::internal
