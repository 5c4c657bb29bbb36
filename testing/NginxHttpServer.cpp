#include "testing/NginxHttpServer.h"

#include <cstdlib>
#include <fstream>
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

void NginxHttpServer::RequireBasicAuth(std::string realm, std::string user, std::string password) {
    basicAuth_ = BasicAuth{std::move(realm), std::move(user), std::move(password)};
}

std::string NginxHttpServer::Certificate() const {
    return NginxProcess::ReadFile(root_.parent_path() / "certificate.pem").value_or("");
}

void NginxHttpServer::Start() {
    const auto& dir = process_.dir();
    root_ = dir / "root";
    std::filesystem::create_directories(root_);
    if (basicAuth_) {
        // nginx reads "{PLAIN}" passwords as they stand.
        std::ofstream(dir / "users")
                << basicAuth_->user << ":{PLAIN}" << basicAuth_->password << "\n";
    }
    if (tls_) {
        const std::string command =
                "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                " -addext subjectAltName=IP:127.0.0.1 -keyout '"
                + (dir / "key.pem").string() + "' -out '" + (dir / "certificate.pem").string()
                + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("openssl could not make a certificate");
        }
    }
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
            << "    listen 127.0.0.1:" << port << (tls_ ? " ssl" : "") << ";\n"
            << "    root " << root_.string() << ";\n";
        if (tls_) {
            out << "    ssl_certificate " << (dir / "certificate.pem").string() << ";\n"
                << "    ssl_certificate_key " << (dir / "key.pem").string() << ";\n";
        }
        if (basicAuth_) {
            out << "    location /private/ {\n"
                << "      alias " << root_.string() << "/;\n"
                << "      auth_basic \"" << basicAuth_->realm << "\";\n"
                << "      auth_basic_user_file " << (dir / "users").string() << ";\n"
                << "    }\n";
        }
        if (slowBytesPerSecond_) {
            out << "    location /slow/ {\n"
                << "      alias " << root_.string() << "/;\n"
                << "      limit_rate " << *slowBytesPerSecond_ << ";\n"
                << "    }\n";
        }
        // A server that answers every request with the whole file, ranges or not.
        out << "    location /noranges/ {\n"
            << "      alias " << root_.string() << "/;\n"
            << "      max_ranges 0;\n";
        if (slowBytesPerSecond_) {
            out << "      limit_rate " << *slowBytesPerSecond_ << ";\n";
        }
        out << "    }\n";
        out << "  }\n}\n";
        return out.str();
    });
}

std::string NginxHttpServer::Url(const std::string& path) const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port()) + path;
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
