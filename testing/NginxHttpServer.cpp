#include "testing/NginxHttpServer.h"

#include <sstream>

namespace pelmar::test {

namespace {

std::optional<std::string> Header(const std::string& value) {
    // nginx logs nothing (or "-" when escaping) for a header that was not sent.
    return value.empty() || value == "-" ? std::nullopt : std::optional<std::string>(value);
}

std::vector<NginxRequest> ParseLog(const std::string& text) {
    std::vector<NginxRequest> requests;
    // Only whole lines: nginx may be writing the next one.
    std::istringstream lines(text.substr(0, text.rfind('\n') + 1));
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream columns(line);
        std::string field;
        while (std::getline(columns, field, '\t')) {
            fields.push_back(field);
        }
        if (fields.size() != 5) {
            continue;
        }
        requests.push_back({fields[0], std::stoi(fields[1]), Header(fields[2]), Header(fields[3]),
                            std::stoll(fields[4])});
    }
    return requests;
}

}  // namespace

void NginxHttpServer::Start() {
    const auto& dir = process_.dir();
    root_ = dir / "root";
    std::filesystem::create_directories(root_);
    process_.Start([&](uint16_t port) {
        std::ostringstream out;
        out << "http {\n"
            << "  default_type application/octet-stream;\n"
            << "  types { image/jpeg jpg; image/png png; image/gif gif; }\n"
            << "  log_format requests escape=none "
               "'$request_uri\\t$status\\t$http_range\\t$http_if_range\\t$body_bytes_sent';\n"
            << "  access_log " << (dir / "access.log").string() << " requests;\n";
        // Request bodies and proxies are never used, but nginx checks that their folders exist.
        for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
            out << "  " << kind << "_temp_path " << (dir / kind).string() << ";\n";
        }
        out << "  server {\n"
            << "    listen 127.0.0.1:" << port << ";\n"
            << "    root " << root_.string() << ";\n";
        if (slowBytesPerSecond_) {
            out << "    location /slow/ {\n"
                << "      alias " << root_.string() << "/;\n"
                << "      limit_rate " << *slowBytesPerSecond_ << ";\n"
                << "    }\n";
        }
        out << "  }\n}\n";
        return out.str();
    });
}

std::string NginxHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
}

std::vector<NginxRequest> NginxHttpServer::requests() const {
    return ParseLog(NginxProcess::ReadFile(root_.parent_path() / "access.log").value_or(""));
}

bool NginxHttpServer::WaitForRequests(
        const std::function<bool(const std::vector<NginxRequest>&)>& done,
        std::chrono::milliseconds timeout) {
    return process_.WaitForFile(
            root_.parent_path() / "access.log",
            [&](const std::optional<std::string>& text) {
                return done(ParseLog(text.value_or("")));
            },
            timeout);
}

}  // namespace pelmar::test
