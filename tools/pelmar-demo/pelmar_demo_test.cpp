// pelmar-demo and pelmar-service as child processes: their options reach the service they name,
// the demo reports a failing or odd service with an error and a non-zero exit instead of a crash
// or an empty success, and the demo's whole road runs against a pelmar-service on its own port.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/LoopbackPort.h"
#include "testing/RunProgram.h"
#include "testing/ServiceEmulator.h"
#include "testing/TempDir.h"

namespace {

namespace fs = std::filesystem;
using pelmar::test::FreeLoopbackPort;
using pelmar::test::RunProgram;
using pelmar::test::ServiceEmulator;
using pelmar::test::TempDir;

// Each run gets a data folder of its own (its cache and samples), so that runs at the same time
// never share a cached file.
pelmar::test::ProgramResult RunDemo(const std::string& args) {
    const TempDir data;
    return RunProgram("XDG_DATA_HOME='" + data.path().string() + "' " PELMAR_DEMO_PATH, args);
}

fs::path WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

class PelmarDemoIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override { service_.start(); }

    std::string Service() const { return " --service " + service_.apiBase(); }

    // Served as pelmar-service serves it: one port for every host.
    static ServiceEmulator::Options OnePort() {
        ServiceEmulator::Options options;
        options.onePort = true;
        return options;
    }

    ServiceEmulator service_{OnePort()};
    TempDir dir_;
};

TEST_F(PelmarDemoIntegrationTest, ServiceAndTokenOptionsReachTheServiceGiven) {
    const fs::path file = WriteFile(dir_.path() / "clip.mp4", std::string(3000, 'v'));

    const pelmar::test::ProgramResult upload =
            RunDemo("upload '" + file.string() + "'" + Service() + " --token app-7");
    ASSERT_EQ(upload.status, 0) << upload.output;
    const auto stored = service_.uploads();
    ASSERT_EQ(stored.size(), 1U);
    EXPECT_EQ(stored[0].appToken, "app-7");
    EXPECT_EQ(stored[0].size, 3000U);

    // Options may come before the command too.
    const pelmar::test::ProgramResult list = RunDemo("--token app-7" + Service() + " list");
    ASSERT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("videos (1)"), std::string::npos) << list.output;
    EXPECT_FALSE(service_.requestsMatching("GET", "/v1/applications/app-7/videos").empty());
}

TEST_F(PelmarDemoIntegrationTest, RefusesAServiceThatIsNotAnHttpUrlWithAHost) {
    const std::string port = std::to_string(service_.port(pelmar::test::Role::Api));
    for (const std::string& url : {"127.0.0.1:" + port, std::string("http://"),
                                   "http://:" + port + "/x", "ftp://127.0.0.1:" + port}) {
        SCOPED_TRACE(url);
        const pelmar::test::ProgramResult result = RunDemo("list --service '" + url + "'");
        EXPECT_EQ(result.status, 2) << result.output;
        EXPECT_NE(result.output.find("--service needs an http:// or https:// URL"),
                  std::string::npos)
                << result.output;
    }
    EXPECT_TRUE(service_.requests().empty());
}

TEST_F(PelmarDemoIntegrationTest, ListOfAFailingServiceExitsNonZeroWithTheError) {
    struct Case {
        const char* name;
        int status;
        std::string body;
        std::string contentType;
    };

    const Case cases[] = {
            {"server error", 500, R"({"error":"boom"})", "application/json"},
            {"forbidden", 403, R"({"error":"no"})", "application/json"},
            {"html page", 200, "<html><body>maintenance</body></html>", "text/html"},
            {"malformed json", 200, "[{\"token\":", "application/json"},
            {"object instead of list", 200, R"({"videos":[]})", "application/json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.clearFaults();
        ServiceEmulator::Fault fault;
        fault.method = "GET";
        fault.pathPattern = ".*/videos";
        fault.persistent = true;
        fault.status = c.status;
        fault.body = c.body;
        fault.contentType = c.contentType;
        service_.addFault(fault);

        const pelmar::test::ProgramResult result = RunDemo("list" + Service());
        EXPECT_EQ(result.status, 1) << result.output;
        EXPECT_NE(result.output.find("list failed"), std::string::npos) << result.output;
    }
}

TEST_F(PelmarDemoIntegrationTest, ConfirmAnswerOfAnUnexpectedTypeFailsTheUploadWithoutCrashing) {
    const fs::path file = WriteFile(dir_.path() / "clip.mp4", "abc");
    ServiceEmulator::Fault fault;
    fault.method = "POST";
    fault.pathPattern = ".*/confirm-video";
    fault.status = 200;
    fault.body = R"({"token":3,"title":["x"]})";
    service_.addFault(fault);

    const pelmar::test::ProgramResult result =
            RunDemo("upload '" + file.string() + "'" + Service());
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find("the confirm answer has no token"), std::string::npos)
            << result.output;
}

TEST_F(PelmarDemoIntegrationTest, UploadsEveryKindItsHelpOffersAndTheServiceKeepsThemReady) {
    const pelmar::test::ProgramResult help = RunDemo("--help");
    ASSERT_EQ(help.status, 0);
    std::vector<std::string> files;
    std::string args;
    for (const char* extension :
         {".mp4", ".mov", ".avi", ".mp3", ".wav", ".aac", ".png", ".jpg", ".jpeg", ".bmp"}) {
        EXPECT_NE(help.output.find(extension), std::string::npos) << extension;
        files.push_back(
                WriteFile(dir_.path() / (std::string("file") + extension), "bytes of a file")
                        .string());
        args += " '" + files.back() + "'";
    }

    const pelmar::test::ProgramResult upload = RunDemo("upload" + args + Service());
    EXPECT_EQ(upload.status, 0) << upload.output;
    EXPECT_EQ(upload.output.find("failed"), std::string::npos) << upload.output;
    const auto stored = service_.uploads();
    ASSERT_EQ(stored.size(), files.size()) << upload.output;
    for (const auto& each : stored) {
        SCOPED_TRACE(each.fileName);
        const auto model = service_.resource(each.token);
        ASSERT_TRUE(model);
        EXPECT_EQ(model->value("state_string", ""), "READY");
    }
}

TEST_F(PelmarDemoIntegrationTest, AFailedDownloadSaysWhy) {
    const std::string closed = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort());

    struct Case {
        const char* name;
        std::string service;
        std::string why;
    };

    const Case cases[] = {
            {"no such video", Service(), "failed: HTTP 404 (not found) (http://127.0.0.2:"},
            {"nothing listens", " --service " + closed, "failed: Failed to connect to 127.0.0.2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const pelmar::test::ProgramResult result = RunDemo("download vid-404" + c.service);
        EXPECT_EQ(result.status, 1) << result.output;
        EXPECT_NE(result.output.find("pelmar-demo: download of vid-404 " + c.why),
                  std::string::npos)
                << result.output;
        // The reason is there, once: not a URL alone, nor libcurl's text twice.
        EXPECT_EQ(result.output.find("failed ("), std::string::npos) << result.output;
        const size_t refused = result.output.find("Couldn't connect to server");
        if (refused != std::string::npos) {
            EXPECT_EQ(result.output.find("Couldn't connect to server", refused + 1),
                      std::string::npos)
                    << result.output;
        }
    }
}

// pelmar-service running in the background until the object ends (SIGTERM, then reaped).
class ServiceProcess {
public:
    // Starts the program with `args` and reads its start-up lines up to "data ..."; false when
    // it ended before (for example because the port was taken).
    bool Start(const std::vector<std::string>& args) {
        Stop();
        int fds[2];
        if (::pipe(fds) != 0) {
            return false;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(fds[1], STDERR_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv{const_cast<char*>(PELMAR_SERVICE_PATH)};
            for (const auto& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(PELMAR_SERVICE_PATH, argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        output_.clear();
        out_ = ::fdopen(fds[0], "r");
        char line[1024];
        while (std::fgets(line, sizeof line, out_) != nullptr) {
            output_ += line;
            if (std::string(line).rfind("data ", 0) == 0) {
                return true;
            }
        }
        return false;
    }

    ~ServiceProcess() { Stop(); }

    const std::string& output() const { return output_; }

    // The rest of the output once the program ended, and its exit status (-1 on a signal).
    int Wait() {
        char line[1024];
        while (out_ != nullptr && std::fgets(line, sizeof line, out_) != nullptr) {
            output_ += line;
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The value of the start-up line "<name> <value>", or "".
    std::string Line(const std::string& name) const {
        const size_t at = output_.find("\n" + name + " ");
        if (at == std::string::npos) {
            return {};
        }
        const size_t begin = at + name.size() + 2;
        return output_.substr(begin, output_.find('\n', begin) - begin);
    }

private:
    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (out_ != nullptr) {
            std::fclose(out_);
            out_ = nullptr;
        }
    }

    pid_t pid_ = -1;
    FILE* out_ = nullptr;
    std::string output_;
};

// Starts `service` with `args` and --port on a free port; the port, or 0 when no try started.
uint16_t StartOnAFreePort(ServiceProcess& service, std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", ""});
    for (int attempt = 0; attempt < 5; ++attempt) {
        const uint16_t candidate = FreeLoopbackPort();
        args[1] = std::to_string(candidate);
        if (service.Start(args)) {
            return candidate;
        }
    }
    return 0;
}

TEST(PelmarServiceIntegrationTest, DemoRunsItsWholeRoadAgainstAServiceOnItsOwnPort) {
    TempDir data;
    ServiceProcess service;
    const uint16_t port =
            StartOnAFreePort(service, {"--data", data.path().string(), "--no-session"});
    ASSERT_NE(port, 0) << service.output();
    const std::string api = "http://127.0.0.1:" + std::to_string(port);
    EXPECT_NE(service.output().find("api " + api + "\n"), std::string::npos) << service.output();
    EXPECT_NE(service.output().find("data " + data.path().string()), std::string::npos);

    const pelmar::test::ProgramResult road = RunDemo("--service " + api + "/ --token road-app");
    ASSERT_EQ(road.status, 0) << road.output;
    EXPECT_NE(road.output.find("the whole road works"), std::string::npos) << road.output;
    // The upload reached this service, not one the demo started itself.
    EXPECT_FALSE(fs::is_empty(data.path() / "files"));
}

TEST(PelmarServiceIntegrationTest, ASecondServiceOnTheSamePortRefusesToStart) {
    TempDir data;
    ServiceProcess first;
    const uint16_t port = StartOnAFreePort(first, {"--data", data.path().string()});
    ASSERT_NE(port, 0) << first.output();

    ServiceProcess second;
    ASSERT_FALSE(second.Start({"--port", std::to_string(port), "--data", data.path().string()}))
            << second.output();
    EXPECT_EQ(second.Wait(), 1) << second.output();
    EXPECT_NE(second.output().find("pelmar-service: cannot bind 127.0.0.1:" + std::to_string(port)
                                   + ": Address already in use"),
              std::string::npos)
            << second.output();
}

TEST(PelmarServiceIntegrationTest, DemoMeetsADefaultServiceByTheValueItPrints) {
    TempDir data;
    ServiceProcess service;
    ASSERT_TRUE(service.Start({"--data", data.path().string(), "--no-session"}))
            << service.output();
    const std::string demo = service.Line("demo");
    const std::string prefix = "pelmar-demo --service http://127.0.0.1:";
    ASSERT_EQ(demo.rfind(prefix, 0), 0U) << service.output();
    const std::string port = demo.substr(prefix.size());
    for (const char* role : {"cdn-api", "dev-api", "file-server", "storage"}) {
        EXPECT_NE(service.Line(role).find(":" + port), std::string::npos) << service.output();
    }

    const pelmar::test::ProgramResult road = RunDemo(demo.substr(demo.find("--service")));
    ASSERT_EQ(road.status, 0) << road.output;
    EXPECT_NE(road.output.find("the whole road works"), std::string::npos) << road.output;

    const pelmar::test::ProgramResult local =
            RunDemo("--service http://localhost:" + port + " --token road-app");
    EXPECT_EQ(local.status, 0) << local.output;
    EXPECT_NE(local.output.find("the whole road works"), std::string::npos) << local.output;
}

TEST(PelmarServiceIntegrationTest, RefusesBadOptionsWithUsage) {
    for (const char* args : {"--port 65536", "--port x1", "--port", "--data ''", "--bogus"}) {
        SCOPED_TRACE(args);
        const pelmar::test::ProgramResult result = RunProgram(PELMAR_SERVICE_PATH, args);
        EXPECT_EQ(result.status, 2) << result.output;
        EXPECT_NE(result.output.find("usage: pelmar-service"), std::string::npos);
    }
}

}  // namespace
