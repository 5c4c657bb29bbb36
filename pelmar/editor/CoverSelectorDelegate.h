#pragma once

#include <memory>
#include <string>

#include "pelmar/platform/ui/Image.h"

// CoverSelectorDelegate: hears which cover the user chose for a video.
// Ownership: held strongly by its CoverSelector.
// Threads: called on the main thread.
// Errors: none.

namespace pelmar {

class CoverSelectorDelegate {
public:
    virtual ~CoverSelectorDelegate() = default;

    // `image` is the chosen frame, or null when the default cover is wanted.
    virtual void coverSelected(const std::string& videoPath,
                               std::shared_ptr<const ui::Image> image) = 0;
};

}  // namespace pelmar
