#pragma once

// The image manager's request priorities and the URL session task priority each one maps to.

namespace pelmar {

using PelmarRemoteImageManagerPriority = unsigned;
inline constexpr PelmarRemoteImageManagerPriority kPelmarRemoteImageManagerPriorityLow = 0;
inline constexpr PelmarRemoteImageManagerPriority kPelmarRemoteImageManagerPriorityDefault = 1;
inline constexpr PelmarRemoteImageManagerPriority kPelmarRemoteImageManagerPriorityHigh = 2;

// Low 0.0, default 0.5, high 1.0; any other value counts as default.
inline double PelmarURLSessionTaskPriorityForPriority(PelmarRemoteImageManagerPriority priority) {
    switch (priority) {
        case kPelmarRemoteImageManagerPriorityLow:
            return 0.0;
        case kPelmarRemoteImageManagerPriorityHigh:
            return 1.0;
        default:
            return 0.5;
    }
}

}  // namespace pelmar
