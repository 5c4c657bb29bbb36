#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui::test {

using Log = std::vector<std::string>;

// LoggingController: a screen that writes "<name>.<event>" for every lifecycle and containment
// callback into a shared log.
// Ownership: refers to the log, which must outlive it.
// Threads: main thread only.
// Errors: none.
class LoggingController : public ViewController {
public:
    LoggingController(std::string name, Log* log) : name_(std::move(name)), log_(log) {
        setTitle(name_);
    }

    void viewWillAppear(bool) override { add("willAppear"); }

    void viewDidAppear(bool) override { add("didAppear"); }

    void viewWillDisappear(bool) override { add("willDisappear"); }

    void viewDidDisappear(bool) override { add("didDisappear"); }

    void willMove(ViewController* parent) override { add(parent ? "willMoveIn" : "willMoveOut"); }

    void didMove(ViewController* parent) override { add(parent ? "didMoveIn" : "didMoveOut"); }

private:
    void add(const char* event) { log_->push_back(name_ + "." + event); }

    std::string name_;
    Log* log_;
};

}  // namespace pelmar::ui::test
