#pragma once

#include <string>

namespace pelmar::ui {

// Device: the device the app runs on: the version of its operating system ("major.minor"),
// which decides whether some system features exist.
// Ownership: one current device for the process (Device::current()), never destroyed.
// Threads: main thread only.
// Errors: none; a version that is not "major[.minor[.patch]]" reads as 0.0.
class Device {
public:
    static Device& current();

    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& systemVersion() const { return systemVersion_; }

    // Describes the device (tests and hosts); reset() goes back to kDefaultSystemVersion.
    void setSystemVersion(std::string version) { systemVersion_ = std::move(version); }

    void reset() { systemVersion_ = kDefaultSystemVersion; }

    // Whether systemVersion() is at least major.minor.
    bool isSystemVersionAtLeast(int major, int minor = 0) const;

    static constexpr const char* kDefaultSystemVersion = "17.0";

private:
    Device() = default;

    std::string systemVersion_ = kDefaultSystemVersion;
};

}  // namespace pelmar::ui
