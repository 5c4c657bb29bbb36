#pragma once

#include <string>

namespace pelmar::ui {

// The kind of device: what its screens are laid out for.
enum class UserInterfaceIdiom : int { Phone = 0, Pad = 1 };

// Device: the device the app runs on: the version of its operating system ("major.minor"),
// which decides whether some system features exist, and its kind (a phone or a pad), which
// decides how some screens present themselves (a share sheet, or a popover on a pad).
// Ownership: one current device for the process (Device::current()), never destroyed.
// Threads: main thread only.
// Errors: none; a version that is not "major[.minor[.patch]]" reads as 0.0.
class Device {
public:
    static Device& current();

    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& systemVersion() const { return systemVersion_; }

    // Describes the device (tests and hosts); reset() goes back to kDefaultSystemVersion and a
    // phone.
    void setSystemVersion(std::string version) { systemVersion_ = std::move(version); }

    UserInterfaceIdiom userInterfaceIdiom() const { return idiom_; }

    void setUserInterfaceIdiom(UserInterfaceIdiom idiom) { idiom_ = idiom; }

    void reset() {
        systemVersion_ = kDefaultSystemVersion;
        idiom_ = UserInterfaceIdiom::Phone;
    }

    // Whether systemVersion() is at least major.minor.
    bool isSystemVersionAtLeast(int major, int minor = 0) const;

    static constexpr const char* kDefaultSystemVersion = "17.0";

private:
    Device() = default;

    std::string systemVersion_ = kDefaultSystemVersion;
    UserInterfaceIdiom idiom_ = UserInterfaceIdiom::Phone;
};

}  // namespace pelmar::ui
