#include "pelmar/platform/ui/TraitCollection.h"

#include <algorithm>

namespace pelmar::ui {

TraitCollection TraitCollection::forWindow(Size windowSize, UserInterfaceIdiom idiom) {
    using S = UserInterfaceSizeClass;
    TraitCollection traits;
    traits.userInterfaceIdiom = idiom;
    if (idiom == UserInterfaceIdiom::Pad) {
        traits.verticalSizeClass = S::Regular;
        traits.horizontalSizeClass = windowSize.width >= kPadRegularWidth ? S::Regular : S::Compact;
        return traits;
    }
    const bool landscape = windowSize.width > windowSize.height;
    const bool large = std::min(windowSize.width, windowSize.height) >= kLargePhoneShortSide;
    traits.verticalSizeClass = landscape ? S::Compact : S::Regular;
    traits.horizontalSizeClass = landscape && large ? S::Regular : S::Compact;
    return traits;
}

}  // namespace pelmar::ui
