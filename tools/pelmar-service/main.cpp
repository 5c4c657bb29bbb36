// pelmar-service: the hosting service on loopback, for running the demo and trying the SDK by hand.
// Serves until SIGINT or SIGTERM and prints its base URLs on start, with the --service value that
// points pelmar-demo at it.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>

#include "testing/ServiceEmulator.h"

namespace {

constexpr const char* kUsage =
        "usage: pelmar-service [--port P] [--data DIR] [--no-session]\n"
        "\n"
        "Serves the hosting service on loopback until SIGINT or SIGTERM, and prints the\n"
        "addresses and the --service value for pelmar-demo:\n"
        "  API            http://127.0.0.1:P\n"
        "  CDN API        http://127.0.0.2:P\n"
        "  regional API   http://127.0.0.3:P/embed\n"
        "  media files    http://127.0.0.4:P\n"
        "  storage        http://127.0.0.5:P\n"
        "\n"
        "  --port P       port of all five addresses (default: a free port, the same for all\n"
        "                 five); a port another program listens on is refused\n"
        "  --data DIR     the folder that keeps what the service stores (default: a temporary\n"
        "                 folder that is removed on exit): the videos, audios and images with\n"
        "                 their streams, states, uploaded files and covers, the upload URLs\n"
        "                 handed out and the token counters (DIR/records.json, DIR/files).\n"
        "                 Started again on the same DIR, the service lists and serves what it\n"
        "                 stored and never hands out a token twice; a DIR whose records cannot\n"
        "                 be read is refused and left as it is. Sessions and the request log\n"
        "                 are not kept\n"
        "  --no-session   answer API requests that carry no session token\n"
        "  --help         show this text\n";

int usageError(const std::string& message) {
    std::cerr << "pelmar-service: " << message << "\n\n" << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    pelmar::test::ServiceEmulator::Options options;
    options.onePort = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--no-session") {
            options.requireSession = false;
            continue;
        }
        if (arg != "--port" && arg != "--data") {
            return usageError("unknown argument " + std::string(arg));
        }
        if (i + 1 >= argc) {
            return usageError(std::string(arg) + " needs a value");
        }
        const std::string_view value = argv[++i];
        if (arg == "--data") {
            if (value.empty()) {
                return usageError("--data needs a folder");
            }
            options.dataDir = std::string(value);
            continue;
        }
        unsigned port = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
        if (error != std::errc{} || end != value.data() + value.size() || port > 65535) {
            return usageError("--port needs a number from 0 to 65535");
        }
        options.port = static_cast<uint16_t>(port);
    }

    // Block the stop signals before any server thread exists, so only sigwait() below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        pelmar::test::ServiceEmulator emulator(options);
        emulator.start();
        std::cout << "api " << emulator.apiBase() << "\n"
                  << "cdn-api " << emulator.cdnApiBase() << "\n"
                  << "dev-api " << emulator.devApiBase() << "\n"
                  << "file-server " << emulator.fileServerBase() << "\n"
                  << "storage " << emulator.storageBase() << "\n"
                  << "demo pelmar-demo --service " << emulator.apiBase() << "\n"
                  << "data " << emulator.dataDir().string() << "\n"
                  << std::flush;
        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::cout << "stopping on " << strsignal(signal) << "\n" << std::flush;
        emulator.stop();
    } catch (const std::exception& error) {
        std::cerr << "pelmar-service: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
