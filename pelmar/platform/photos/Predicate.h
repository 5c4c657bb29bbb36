#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace pelmar::photos {

class Asset;

// Predicate: a filter over assets written as a format string with arguments, as fetch options
// take it ("mediaType IN %@", "mediaType = %d AND duration <= %f", ...). The format is parsed
// once: comparisons (=, ==, !=, <, <=, >, >=, IN) of an asset key with a placeholder (%d, %i,
// %ld, %f, %@) or a number, joined by AND / && (binding tighter) and OR / ||, with parentheses
// and NOT. Keys: mediaType, mediaSubtypes, duration, pixelWidth, pixelHeight, isFavorite,
// creationDate, modificationDate (an asset without the date never matches a comparison on it).
// Ownership: value type.
// Threads: thread-compatible; evaluate() is const and thread-safe.
// Errors: the constructor throws std::invalid_argument naming the fault for a format it cannot
//     parse, an unknown key, a missing or surplus argument, or an argument of the wrong kind
//     (IN needs a list).
class Predicate {
public:
    using Argument = std::variant<int64_t, double, std::vector<int64_t>>;

    Predicate(std::string format, std::vector<Argument> arguments);

    const std::string& format() const { return format_; }

    const std::vector<Argument>& arguments() const { return arguments_; }

    bool evaluate(const Asset& asset) const;

    // The format with its arguments put in ("mediaType IN {1, 2}").
    std::string description() const;

    struct Node;

private:
    std::string format_;
    std::vector<Argument> arguments_;
    std::shared_ptr<const Node> root_;
};

}  // namespace pelmar::photos
