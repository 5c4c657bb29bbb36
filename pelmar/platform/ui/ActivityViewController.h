#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui {

// ActivityViewController: the system share sheet for some items (images here). The model records
// the items; choosing a destination is not modelled.
// Ownership: made with std::make_shared; holds its items.
// Threads: main thread only.
// Errors: none.
class ActivityViewController : public ViewController {
public:
    explicit ActivityViewController(std::vector<std::shared_ptr<const Image>> activityItems)
        : activityItems_(std::move(activityItems)) {}

    const std::vector<std::shared_ptr<const Image>>& activityItems() const {
        return activityItems_;
    }

private:
    std::vector<std::shared_ptr<const Image>> activityItems_;
};

}  // namespace pelmar::ui
