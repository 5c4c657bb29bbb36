#include "pelmar/platform/ui/Nib.h"

#include <map>
#include <mutex>
#include <utility>

#include "pelmar/platform/ui/View.h"

namespace pelmar::ui {

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, Nib::Builder, std::less<>> builders;  // guarded by mutex
};

Registry& registry() {
    static Registry* instance = new Registry();
    return *instance;
}

}  // namespace

void Nib::registerBuilder(std::string name, Builder builder) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.builders[std::move(name)] = std::move(builder);
}

bool Nib::contains(std::string_view name) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.builders.find(name) != r.builders.end();
}

std::shared_ptr<View> Nib::instantiate(std::string_view name, ViewController& owner) {
    Builder builder;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.builders.find(name);
        if (it == r.builders.end()) {
            return nullptr;
        }
        builder = it->second;
    }
    return builder ? builder(owner) : nullptr;
}

}  // namespace pelmar::ui
