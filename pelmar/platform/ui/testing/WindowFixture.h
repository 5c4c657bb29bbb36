#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar::ui::test {

// WindowFixture: a manual clock, the main screen as a 390 x 844 phone, and a key window showing a
// root screen that has appeared.
// Ownership: owns the window (and through it the root).
// Threads: main thread only.
// Errors: none.
class WindowFixture : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        Application::shared().reset();
        Screen::main().reset();
        window_ = std::make_shared<Window>();
        root_ = std::make_shared<ViewController>();
        window_->setRootViewController(root_);
        window_->makeKeyAndVisible();
        dispatch::RunLoop::runUntilIdle();
    }

    void TearDown() override {
        window_.reset();
        root_.reset();
        Application::shared().reset();
        Screen::main().reset();
        MainLoopFixture::TearDown();
    }

    // Adds `view` to the root screen and returns it.
    template <typename T>
    std::shared_ptr<T> add(std::shared_ptr<T> view) {
        root_->view()->addSubview(view);
        return view;
    }

    // A one-finger stroke on the key window in `steps` moves, `seconds` apart on the clock.
    static void drag(Point from, Point to, int steps, double seconds) {
        TouchSequence finger;
        ASSERT_EQ(finger.begin({from}), std::nullopt);
        for (int i = 1; i <= steps; ++i) {
            dispatch::RunLoop::advance(seconds);
            const double f = static_cast<double>(i) / steps;
            finger.move({{from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f}});
        }
        finger.end();
    }

    std::shared_ptr<Window> window_;
    std::shared_ptr<ViewController> root_;
};

}  // namespace pelmar::ui::test
