// Publishing throughput of the SDK's RTMP stack against FFmpeg: the same 60 s of 720p,
// high-bitrate H.264 (made here with ffmpeg) is published to nginx on loopback by the livestreamer
// tool from its "FRAM" input and by `ffmpeg -i clip.h264 -c copy -f flv rtmp://...`, each as a
// child process with stdin closed, three times interleaved, keeping the cheapest run of each. For
// each it prints wall time, CPU time (user + system, all threads) and the write system calls
// (counted in a separate run under strace, so the timed runs are not slowed by tracing). Both sides
// send as fast as the server takes the stream: the livestreamer does not pace by timestamps and
// FFmpeg runs without -re, so the wall times compare like with like. The server's reading rate
// bounds both, which is why the chunk size a client announces shows in its wall time. The last
// line gives the CPU and wall ratios, SDK / FFmpeg.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pelmar/live/testing/H264Fixture.h"
#include "testing/NginxRtmpServer.h"
#include "testing/TempDir.h"

extern char** environ;

namespace {

struct Run {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int status = -1;
};

// Runs `argv` with stdin, stdout and stderr on /dev/null; returns its times.
Run Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    Run run;
    if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                     + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Write system calls (write, writev, send, sendto, sendmsg) of a run of `args` under strace.
long WriteCalls(const std::filesystem::path& dir, std::vector<std::string> args) {
    const auto report = dir / "strace.txt";
    std::vector<std::string> traced = {"strace",
                                       "-f",
                                       "-c",
                                       "-o",
                                       report.string(),
                                       "-e",
                                       "trace=write,writev,sendto,sendmsg,pwrite64"};
    traced.insert(traced.end(), args.begin(), args.end());
    if (Spawn(traced).status != 0) {
        return -1;
    }
    std::ifstream in(report);
    std::string line;
    long total = -1;
    while (std::getline(in, line)) {
        if (line.find("total") != std::string::npos) {
            std::istringstream fields(line);
            double percent = 0;
            double seconds = 0;
            long usecs = 0;
            fields >> percent >> seconds >> usecs >> total;
        }
    }
    return total;
}

void Report(const char* name, const Run& run, long writes, double megabytes) {
    std::printf("%-12s wall %.3f s  cpu %.3f s  write calls %ld  (%.0f MB/s wall)  exit %d\n", name,
                run.wallSeconds, run.cpuSeconds, writes, megabytes / run.wallSeconds, run.status);
}

}  // namespace

int main() {
    pelmar::test::TempDir dir;
    std::printf("making 60 s of 1280x720 H.264 at 25 frames/s...\n");
    std::fflush(stdout);
    const auto clip = dir.path() / "clip.h264";
    pelmar::test::RunCommand(
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -t 60 "
            "-vf noise=alls=12:allf=t -c:v libx264 -preset ultrafast -bf 0 -g 50 -b:v 20M "
            "-maxrate 20M -bufsize 20M -pix_fmt yuv420p -f h264 '"
            + clip.string() + "'");
    const auto annexB = pelmar::test::ReadFileBytes(clip);
    const auto frames = pelmar::test::AccessUnitsFromAnnexB(annexB);
    const auto fram = dir.path() / "clip.fram";
    pelmar::test::WriteFileBytes(fram, pelmar::test::FramFile(frames));
    const double megabytes = static_cast<double>(annexB.size()) / 1e6;
    std::printf("clip: %zu frames, %.1f MB (%.1f Mbit/s)\n", frames.size(), megabytes,
                megabytes * 8 / 60);

    pelmar::test::NginxRtmpServer server;
    server.Start();
    auto sdkArgs = [&](const std::string& name) {
        return std::vector<std::string>{LIVESTREAMER_PATH, fram.string(), "/dev/null",
                                        server.Url("live"), name};
    };
    auto ffmpegArgs = [&](const std::string& name) {
        return std::vector<std::string>{"ffmpeg",
                                        "-nostdin",
                                        "-v",
                                        "error",
                                        "-i",
                                        clip.string(),
                                        "-c",
                                        "copy",
                                        "-f",
                                        "flv",
                                        server.Url("live") + "/" + name};
    };
    // Single runs on a shared machine swing widely (page faults, scheduling), so each side runs
    // three times, interleaved, and keeps its cheapest run.
    Run sdk;
    Run ffmpeg;
    for (int round = 0; round < 3; ++round) {
        const std::string suffix = std::to_string(round);
        const Run sdkRun = Spawn(sdkArgs("sdk" + suffix));
        const Run ffmpegRun = Spawn(ffmpegArgs("ffmpeg" + suffix));
        if (round == 0 || sdkRun.cpuSeconds < sdk.cpuSeconds) {
            sdk = sdkRun;
        }
        if (round == 0 || ffmpegRun.cpuSeconds < ffmpeg.cpuSeconds) {
            ffmpeg = ffmpegRun;
        }
    }
    const long sdkWrites = WriteCalls(dir.path(), sdkArgs("sdk-traced"));
    const long ffmpegWrites = WriteCalls(dir.path(), ffmpegArgs("ffmpeg-traced"));
    Report("livestreamer", sdk, sdkWrites, megabytes);
    Report("ffmpeg", ffmpeg, ffmpegWrites, megabytes);
    const double ratio = ffmpeg.cpuSeconds > 0 ? sdk.cpuSeconds / ffmpeg.cpuSeconds : 0;
    const double wallRatio = ffmpeg.wallSeconds > 0 ? sdk.wallSeconds / ffmpeg.wallSeconds : 0;
    std::printf("write-call ratio %.2f\n",
                ffmpegWrites > 0 ? static_cast<double>(sdkWrites) / ffmpegWrites : 0);
    std::printf("rtmp_publish: cpu_ratio=%.2f wall_ratio=%.2f\n", ratio, wallRatio);
    return sdk.status == 0 && ffmpeg.status == 0 ? 0 : 1;
}
