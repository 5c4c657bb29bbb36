#include "pelmar/platform/ui/Nib.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

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

// A meter view that loads its own parts from an interface file, as a cell or a custom view does.
class Meter : public View {
public:
    std::weak_ptr<Label> reading;
    std::weak_ptr<View> needle;
};

// The message of the logic_error `f` throws, or "" when it throws none.
template <typename F>
std::string failureOf(F f) {
    try {
        f();
    } catch (const std::logic_error& e) {
        return e.what();
    }
    return "";
}

TEST(NibTest, AnyObjectCanOwnAnInterfaceFileWhoseOutletsMustAllBeBound) {
    Nib::registerBuilder<Meter>("Meter",
                                [](Meter& meter) {
                                    auto parts = std::make_shared<View>();
                                    auto reading = std::make_shared<Label>();
                                    parts->addSubview(reading);
                                    meter.reading = reading;  // the needle is forgotten
                                    return parts;
                                },
                                {{"reading", [](const Meter& m) { return !m.reading.expired(); }},
                                 {"needle", [](const Meter& m) { return !m.needle.expired(); }}});
    Meter meter;
    EXPECT_EQ(failureOf([&] { Nib::instantiate("Meter", meter); }),
              "interface file \"Meter\": outlet \"needle\" is not bound");

    auto screen = std::make_shared<ViewController>("Meter");
    EXPECT_EQ(failureOf([&] { screen->view(); }),
              "interface file \"Meter\" is for another kind of owner");
}

TEST(NibTest, AMissingInterfaceFileFailsLoudlyEveryTime) {
    EXPECT_FALSE(Nib::contains("NoSuchScreen"));
    auto screen = std::make_shared<ViewController>("NoSuchScreen");
    EXPECT_EQ(failureOf([&] { screen->view(); }), "no interface file named \"NoSuchScreen\"");
    EXPECT_EQ(failureOf([&] { screen->view(); }), "no interface file named \"NoSuchScreen\"");
    EXPECT_FALSE(screen->isViewLoaded());
}

}  // namespace
}  // namespace pelmar::ui
