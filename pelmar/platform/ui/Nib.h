#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>
#include <utility>
#include <vector>

namespace pelmar::ui {

class View;
class ViewController;

// Nib: the registry of interface files. An interface file is a builder function registered under
// its name for one owner type (a view controller, a cell, a view, any class): given the owner, it
// creates the views, binds the owner's outlets and actions, and returns the top view. A view
// controller made with a nib name loads its view this way. A registration may list the owner's
// outlets; each must be bound once the builder has run.
// Ownership: static registry for the process; builders are kept until replaced.
// Threads: thread-safe (one internal mutex, not held while a builder runs).
// Errors: instantiate() throws std::logic_error for an unknown name ("no interface file named
// \"<name>\""), an owner of another type, a builder that returns no view, and an outlet left
// unbound ("interface file \"<name>\": outlet \"<outlet>\" is not bound").
class Nib {
public:
    template <typename Owner>
    using BuilderFor = std::function<std::shared_ptr<View>(Owner& owner)>;

    using Builder = BuilderFor<ViewController>;

    // An outlet by name, and whether the owner has it bound.
    template <typename Owner>
    struct Outlet {
        std::string name;
        std::function<bool(const Owner&)> isBound;
    };

    Nib() = delete;

    // Registers or replaces the builder of `name` for owners of type Owner.
    template <typename Owner>
    static void registerBuilder(std::string name,
                                BuilderFor<Owner> builder,
                                std::vector<Outlet<Owner>> outlets = {}) {
        Erased erased;
        erased.owner = std::type_index(typeid(Owner));
        erased.build = [builder = std::move(builder), outlets = std::move(outlets)](
                               void* owner, const std::string& nib) {
            auto& o = *static_cast<Owner*>(owner);
            auto view = builder ? builder(o) : nullptr;
            for (const auto& outlet : outlets) {
                if (outlet.isBound && !outlet.isBound(o)) {
                    unbound(nib, outlet.name);
                }
            }
            return view;
        };
        add(std::move(name), std::move(erased));
    }

    // A view controller's interface file (the usual case).
    static void registerBuilder(std::string name, Builder builder);

    static bool contains(std::string_view name);

    template <typename Owner>
    static std::shared_ptr<View> instantiate(std::string_view name, Owner& owner) {
        return build(name, std::type_index(typeid(Owner)), &owner);
    }

private:
    struct Erased {
        std::type_index owner = std::type_index(typeid(void));
        std::function<std::shared_ptr<View>(void* owner, const std::string& nib)> build;
    };

    struct Registry;
    static Registry& registry();
    static void add(std::string name, Erased erased);
    static std::shared_ptr<View> build(std::string_view name, std::type_index owner, void* object);
    [[noreturn]] static void unbound(const std::string& nib, const std::string& outlet);
};

}  // namespace pelmar::ui
