#pragma once

#include "pelmar/platform/ui/Device.h"
#include "pelmar/platform/ui/Size.h"

namespace pelmar::ui {

// How much room a screen has along one axis, with the system's raw values.
enum class UserInterfaceSizeClass : int { Unspecified = 0, Compact = 1, Regular = 2 };

// TraitCollection: what a screen is laid out for: its horizontal and vertical size classes and
// the kind of device. forWindow() gives the traits the system gives a window of a size on a
// device of a kind: a phone is compact across and regular down in portrait; in landscape it is
// compact down, and regular across only when it is one of the large phones (whose short side is
// kLargePhoneShortSide points or more). A pad is regular down, and regular across unless its
// window is narrower than kPadRegularWidth points (a side-by-side or slide-over window).
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.
struct TraitCollection {
    static constexpr double kLargePhoneShortSide = 414;
    static constexpr double kPadRegularWidth = 640;

    UserInterfaceSizeClass horizontalSizeClass = UserInterfaceSizeClass::Unspecified;
    UserInterfaceSizeClass verticalSizeClass = UserInterfaceSizeClass::Unspecified;
    UserInterfaceIdiom userInterfaceIdiom = UserInterfaceIdiom::Phone;

    bool operator==(const TraitCollection&) const = default;

    static TraitCollection forWindow(Size windowSize, UserInterfaceIdiom idiom);
};

}  // namespace pelmar::ui
