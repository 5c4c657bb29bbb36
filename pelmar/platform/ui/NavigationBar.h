#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

class Button;
class NavigationItem;

// NavigationBar: the bar at the top of a navigation controller. It shows the top item's title,
// its left and right bar button items as buttons, and a back button (when there is an item below
// and the top item does not hide it) whose tap calls onBack; the back button shows a chevron in
// the tint before its title. A change of the top item (its title, title view or items) shows at
// once.
// Ownership: reference object made with std::make_shared; holds the items it shows.
// Threads: main thread only.
// Errors: none.
class NavigationBar : public View {
public:
    static constexpr double kHeight = 44;

    using View::View;

    // Bottom first.
    void setItems(std::vector<std::shared_ptr<NavigationItem>> items);

    std::shared_ptr<NavigationItem> topItem() const;

    std::shared_ptr<NavigationItem> backItem() const;

    // The title shown now.
    const std::string& title() const { return title_; }

    std::shared_ptr<Button> backButton() const { return backButton_; }

    // The back title shown now (empty without a back button).
    std::string backButtonTitle() const;

    std::function<void()> onBack;

    // A translucent bar lets what lies under it show through its background.
    bool isTranslucent() const { return translucent_; }

    void setTranslucent(bool translucent) { translucent_ = translucent; }

    // The bar's background colour (none: the platform's light grey).
    std::optional<Color> barTintColor() const { return barTintColor_; }

    void setBarTintColor(std::optional<Color> color) { barTintColor_ = color; }

    // The colour of the bar's buttons is the view's tintColor; this is the title's.
    std::optional<Color> titleTextColor() const { return titleTextColor_; }

    void setTitleTextColor(std::optional<Color> color) { titleTextColor_ = color; }

    // The bar's background and, without a title view, its title; its buttons' titles take the
    // tint in effect.
    void draw(GraphicsContext& context) override;

protected:
    void layoutSubviews() override;

    std::string className() const override { return "NavigationBar"; }

private:
    void rebuild();

    std::vector<std::shared_ptr<NavigationItem>> items_;
    std::string title_;
    std::shared_ptr<Button> backButton_;
    std::vector<std::shared_ptr<Button>> left_;
    std::vector<std::shared_ptr<Button>> right_;
    bool translucent_ = true;
    std::optional<Color> barTintColor_;
    std::optional<Color> titleTextColor_;
};

}  // namespace pelmar::ui
