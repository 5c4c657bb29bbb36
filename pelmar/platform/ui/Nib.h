#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace pelmar::ui {

class View;
class ViewController;

// Nib: the registry of interface files. An interface file is a builder function registered under
// its name: given the owner, it creates the views, binds the owner's outlets and actions, and
// returns the top view. A view controller made with a nib name loads its view this way.
// Ownership: static registry for the process; builders are kept until replaced.
// Threads: thread-safe (one internal mutex, not held while a builder runs).
// Errors: instantiate() returns null for an unknown name.
class Nib {
public:
    using Builder = std::function<std::shared_ptr<View>(ViewController& owner)>;

    Nib() = delete;

    // Registers or replaces the builder of `name`.
    static void registerBuilder(std::string name, Builder builder);

    static bool contains(std::string_view name);

    static std::shared_ptr<View> instantiate(std::string_view name, ViewController& owner);
};

}  // namespace pelmar::ui
