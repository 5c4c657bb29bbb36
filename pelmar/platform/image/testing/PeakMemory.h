#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

// What a decoder test needs to see memory a decoder took and gave back: the growth of the
// process's peak resident memory while some work runs. Linux only (/proc/self).

namespace pelmar::image::test {

namespace internal {

// A "Name:   <n> kB" line of /proc/self/status, in bytes.
inline std::optional<int64_t> statusBytes(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(name + ":", 0) == 0) {
            return std::stoll(line.substr(name.size() + 1)) * 1024;
        }
    }
    return std::nullopt;
}

}  // namespace internal

// How far the peak resident memory rose above the resident memory at the start while `work`
// ran, in bytes; none when the kernel cannot reset the peak.
template <class Work>
std::optional<int64_t> peakMemoryGrowth(Work work) {
    {
        // "5" resets the peak (VmHWM) to the current resident size.
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5";
        if (!reset.flush()) {
            return std::nullopt;
        }
    }
    const auto before = internal::statusBytes("VmRSS");
    work();
    const auto peak = internal::statusBytes("VmHWM");
    if (!before || !peak) {
        return std::nullopt;
    }
    return *peak - *before;
}

}  // namespace pelmar::image::test
