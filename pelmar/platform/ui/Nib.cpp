#include "pelmar/platform/ui/Nib.h"

#include <map>
#include <stdexcept>

#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/View.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::ui {

struct Nib::Registry {
    Mutex mutex;
    std::map<std::string, Erased, std::less<>> builders PELMAR_GUARDED_BY(mutex);
};

Nib::Registry& Nib::registry() {
    static auto* instance = new Registry();  // never destroyed: screens may load during exit
    return *instance;
}

void Nib::add(std::string name, Erased erased) {
    auto& r = registry();
    MutexLock lock(r.mutex);
    r.builders.insert_or_assign(std::move(name), std::move(erased));
}

void Nib::registerBuilder(std::string name, Builder builder) {
    registerBuilder<ViewController>(std::move(name), std::move(builder));
}

bool Nib::contains(std::string_view name) {
    auto& r = registry();
    MutexLock lock(r.mutex);
    return r.builders.find(name) != r.builders.end();
}

std::shared_ptr<View> Nib::build(std::string_view name, std::type_index owner, void* object) {
    Erased erased;
    {
        auto& r = registry();
        MutexLock lock(r.mutex);
        auto it = r.builders.find(name);
        if (it != r.builders.end()) {
            erased = it->second;
        }
    }
    const std::string nib(name);
    if (!erased.build) {
        throw std::logic_error("no interface file named \"" + nib + "\"");
    }
    if (erased.owner != owner) {
        throw std::logic_error("interface file \"" + nib + "\" is for another kind of owner");
    }
    auto view = erased.build(object, nib);
    if (!view) {
        throw std::logic_error("interface file \"" + nib + "\" made no view");
    }
    return view;
}

void Nib::unbound(const std::string& nib, const std::string& outlet) {
    throw std::logic_error("interface file \"" + nib + "\": outlet \"" + outlet
                           + "\" is not bound");
}

}  // namespace pelmar::ui
