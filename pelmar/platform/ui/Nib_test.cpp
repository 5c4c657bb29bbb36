#include "pelmar/platform/ui/Nib.h"

#include <gtest/gtest.h>

#include <memory>

#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar::ui {
namespace {

// A screen whose interface file binds two outlets and one action.
class CounterScreen : public ViewController {
public:
    CounterScreen() : ViewController("CounterScreen") {}

    void viewDidLoad() override { outletsBoundBeforeDidLoad = button.lock() && label.lock(); }

    void increment() { label.lock()->setText(std::to_string(++count)); }

    std::weak_ptr<Button> button;
    std::weak_ptr<Label> label;
    int count = 0;
    bool outletsBoundBeforeDidLoad = false;
};

TEST(NibTest, AControllerWithANibNameGetsItsViewsOutletsAndActions) {
    Nib::registerBuilder("CounterScreen", [](ViewController& owner) {
        auto& screen = dynamic_cast<CounterScreen&>(owner);
        auto root = std::make_shared<View>();
        auto button = std::make_shared<Button>();
        auto label = std::make_shared<Label>();
        root->addSubview(button);
        root->addSubview(label);
        screen.button = button;
        screen.label = label;
        button->addTarget(ControlEvent::TouchUpInside, [&screen] { screen.increment(); });
        return root;
    });
    EXPECT_TRUE(Nib::contains("CounterScreen"));

    auto screen = std::make_shared<CounterScreen>();
    EXPECT_FALSE(screen->isViewLoaded());
    EXPECT_EQ(screen->view()->subviews().size(), 2U);
    EXPECT_TRUE(screen->outletsBoundBeforeDidLoad);
    auto window = std::make_shared<Window>();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    screen->button.lock()->setFrame({0, 0, 100, 50});
    screen->view()->layoutIfNeeded();
    EXPECT_TRUE(screen->button.lock()->tap());
    EXPECT_TRUE(screen->button.lock()->tap());
    EXPECT_EQ(screen->label.lock()->text(), "2");
    Application::shared().reset();
}

TEST(NibTest, AnUnknownNibFailsLoudly) {
    EXPECT_FALSE(Nib::contains("NoSuchScreen"));
    auto screen = std::make_shared<ViewController>("NoSuchScreen");
    EXPECT_THROW(screen->view(), std::logic_error);
}

}  // namespace
}  // namespace pelmar::ui
