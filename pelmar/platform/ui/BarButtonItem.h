#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/ui/Image.h"

namespace pelmar::ui {

class Button;

// BarButtonItem: a button of a navigation bar or toolbar: a title or an image, a style, an
// enabled flag and an action. The bar shows it as a Button (view()), which a test taps like any
// other; a done item's title is bold. A system item is the platform's own: Cancel is the word,
// Play and Pause are the pictures "system-play" and "system-pause", painted in the bar's tint.
// Ownership: reference object made with std::make_shared; the action should capture its owner
// weakly. Refers to the button showing it weakly.
// Threads: main thread only.
// Errors: none.
class BarButtonItem {
public:
    using Action = std::function<void()>;

    // Plain, or the bold title of the button that ends a screen's task.
    enum class Style { Plain, Done };

    enum class SystemItem { Cancel, Play, Pause };

    BarButtonItem(std::string title, Action action)
        : title_(std::move(title)), action_(std::move(action)) {}

    BarButtonItem(std::shared_ptr<const Image> image, Action action)
        : image_(std::move(image)), action_(std::move(action)) {}

    BarButtonItem(SystemItem item, Action action);

    // The system item this was made as, if any.
    std::optional<SystemItem> systemItem() const { return systemItem_; }

    const std::string& title() const { return title_; }

    // Also retitles the button a bar shows now.
    void setTitle(std::string title);

    std::shared_ptr<const Image> image() const { return image_; }

    Style style() const { return style_; }

    // Also restyles the button a bar shows now.
    void setStyle(Style style);

    bool isEnabled() const { return enabled_; }

    void setEnabled(bool enabled);

    // The button that shows this item in a bar now, or null.
    std::shared_ptr<Button> view() const { return view_.lock(); }

    // Makes the button a bar shows (called by the bar).
    std::shared_ptr<Button> makeButton();

private:
    std::string title_;
    std::shared_ptr<const Image> image_;
    Action action_;
    std::optional<SystemItem> systemItem_;
    Style style_ = Style::Plain;
    bool enabled_ = true;
    std::weak_ptr<Button> view_;
};

}  // namespace pelmar::ui
