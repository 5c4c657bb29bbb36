#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

// DynamicBehavior: one physical behaviour of a view in a dynamic animator: an attachment of a
// point of the view (offset from its centre) to an anchor, a snap to a point, or gravity in a
// direction with a magnitude. The model records them; it runs no physics.
// Ownership: held by shared_ptr by its animator; refers to its view weakly.
// Threads: main thread only.
// Errors: none.
struct DynamicBehavior {
    enum class Kind { Attachment, Snap, Gravity };

    Kind kind = Kind::Attachment;
    std::weak_ptr<View> item;
    Point anchor;     // attachment: where the view is held
    Point offset;     // attachment: the held point, from the view's centre
    Point snapPoint;  // snap
    Point gravityDirection{0, 1};
    double magnitude = 1;

    static std::shared_ptr<DynamicBehavior> attachment(const std::shared_ptr<View>& item,
                                                       Point offset,
                                                       Point anchor) {
        auto b = std::make_shared<DynamicBehavior>();
        b->kind = Kind::Attachment;
        b->item = item;
        b->offset = offset;
        b->anchor = anchor;
        return b;
    }

    static std::shared_ptr<DynamicBehavior> snap(const std::shared_ptr<View>& item, Point point) {
        auto b = std::make_shared<DynamicBehavior>();
        b->kind = Kind::Snap;
        b->item = item;
        b->snapPoint = point;
        return b;
    }

    // Downward with magnitude 1 unless changed.
    static std::shared_ptr<DynamicBehavior> gravity(const std::shared_ptr<View>& item) {
        auto b = std::make_shared<DynamicBehavior>();
        b->kind = Kind::Gravity;
        b->item = item;
        return b;
    }
};

// DynamicAnimator: the behaviours acting on views inside a reference view.
// Ownership: made with std::make_shared; owns its behaviours; refers to the reference view weakly.
// Threads: main thread only.
// Errors: none.
class DynamicAnimator {
public:
    explicit DynamicAnimator(const std::shared_ptr<View>& referenceView)
        : referenceView_(referenceView) {}

    std::shared_ptr<View> referenceView() const { return referenceView_.lock(); }

    void addBehavior(std::shared_ptr<DynamicBehavior> behavior) {
        behaviors_.push_back(std::move(behavior));
    }

    void removeBehavior(const std::shared_ptr<DynamicBehavior>& behavior) {
        behaviors_.erase(std::remove(behaviors_.begin(), behaviors_.end(), behavior),
                         behaviors_.end());
    }

    void removeAllBehaviors() { behaviors_.clear(); }

    const std::vector<std::shared_ptr<DynamicBehavior>>& behaviors() const { return behaviors_; }

private:
    std::weak_ptr<View> referenceView_;
    std::vector<std::shared_ptr<DynamicBehavior>> behaviors_;
};

}  // namespace pelmar::ui
