#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "pelmar/core/JsonReaders.h"
#include "pelmar/platform/foundation/Json.h"

// DataModel<Self>: the filling and clearing every service data model shares. A model names each
// of its fields once, with its JSON key, in `visitFields(visit)` (`visit("created", created)`);
// setInfo() reads every field with the lenient reader of its type under its key, and clear()
// stores the cleared value: "", 0, false, an empty list, a new cleared nested model. A nested
// model is filled from its member when that is a JSON object, else cleared; a list of models
// from an array made only of objects, else left empty.
// Both are virtual: a host's subclass may override them. The models' C++ constructors can call
// only their own class's versions; make<Subclass>() builds a model through the subclass's.
// Ownership: the base of copyable value types; nothing is shared between copies.
// Threads: thread-compatible.
// Errors: none; a missing or mistyped value leaves the reader's empty value.

namespace pelmar {

template <class Self>
class DataModel {
public:
    virtual ~DataModel() = default;

    // Sets every field from `dict` (a JSON object; anything else reads as empty).
    virtual void setInfo(const Json& dict) { self().visitFields(Reader{dict}); }

    // Stores the cleared value in every field.
    virtual void clear() { self().visitFields(Clearer{}); }

    // A `Model` (Self or a class derived from it, default-constructible) filled from `dict` when
    // given, else cleared, by Model's own setInfo() or clear().
    template <class Model = Self>
    static Model make(const std::optional<Json>& dict) {
        static_assert(std::is_base_of_v<Self, Model>, "a model of this kind");
        Model model;
        static_cast<DataModel&>(model).fill(dict);
        return model;
    }

protected:
    DataModel() = default;
    DataModel(const DataModel&) = default;
    DataModel(DataModel&&) noexcept = default;
    DataModel& operator=(const DataModel&) = default;
    DataModel& operator=(DataModel&&) noexcept = default;

    // What the constructors taking an optional dictionary do.
    void fill(const std::optional<Json>& dict) {
        if (dict) {
            setInfo(*dict);
        } else {
            clear();
        }
    }

private:
    Self& self() { return static_cast<Self&>(*this); }

    // The member `key` of `dict` when both are objects.
    static const Json* member(const Json& dict, std::string_view key) {
        if (!dict.is_object()) {
            return nullptr;
        }
        const auto it = dict.find(std::string(key));
        return it == dict.end() ? nullptr : &*it;
    }

    struct Reader {
        const Json& dict;

        void operator()(std::string_view key, std::optional<std::string>& field) const {
            field = getStringValue(dict, key);
        }

        void operator()(std::string_view key, std::optional<int64_t>& field) const {
            field = getIntValue(dict, key);
        }

        void operator()(std::string_view key, std::optional<double>& field) const {
            field = getDoubleValue(dict, key);
        }

        void operator()(std::string_view key, std::optional<bool>& field) const {
            field = getBoolValue(dict, key);
        }

        void operator()(std::string_view key, std::vector<std::string>& field) const {
            field = getStringArrayValue(dict, key);
        }

        // Always a new model: the previous one is replaced, never refilled.
        template <class Model>
        void operator()(std::string_view key, std::optional<Model>& field) const {
            const Json* value = member(dict, key);
            field = Model(value != nullptr && value->is_object() ? std::optional<Json>(*value)
                                                                 : std::nullopt);
        }

        // An array with any element that is not an object counts as none at all.
        template <class Model>
        void operator()(std::string_view key, std::vector<Model>& field) const {
            field.clear();
            const Json* value = member(dict, key);
            if (value == nullptr || !value->is_array()) {
                return;
            }
            for (const Json& element : *value) {
                if (!element.is_object()) {
                    return;
                }
            }
            for (const Json& element : *value) {
                field.emplace_back(element);
            }
        }
    };

    struct Clearer {
        void operator()(std::string_view, std::optional<std::string>& field) const {
            field = std::string();
        }

        void operator()(std::string_view, std::optional<int64_t>& field) const {
            field = int64_t{0};
        }

        void operator()(std::string_view, std::optional<double>& field) const { field = 0.0; }

        void operator()(std::string_view, std::optional<bool>& field) const { field = false; }

        template <class Element>
        void operator()(std::string_view, std::vector<Element>& field) const {
            field.clear();
        }

        template <class Model>
        void operator()(std::string_view, std::optional<Model>& field) const {
            field = Model();
        }
    };
};

}  // namespace pelmar
