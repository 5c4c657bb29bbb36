#pragma once

#include <string>
#include <utility>

#include "pelmar/platform/ui/Color.h"

namespace pelmar::ui {

// The weights a font can be asked in, lightest first.
enum class FontWeight { UltraLight, Thin, Light, Regular, Medium, Semibold, Bold, Heavy, Black };

// Font: a family, a size in points and a weight. The painter lays text out in it through the
// system's font configuration, falling back to other families for characters it lacks.
// Ownership: a value type, like TextRun beside it.
// Threads: thread-safe (values; no shared state).
// Errors: none; a family that is not installed is laid out in the closest one fontconfig finds.
struct Font {
    // "sans-serif", "monospace" or any installed family.
    std::string family = "sans-serif";
    double size = 17.0;
    FontWeight weight = FontWeight::Regular;

    static Font systemFont(double size, FontWeight weight = FontWeight::Regular) {
        return Font{"sans-serif", size, weight};
    }

    static Font boldSystemFont(double size) { return systemFont(size, FontWeight::Bold); }

    static Font named(std::string family, double size) {
        return Font{std::move(family), size, FontWeight::Regular};
    }

    bool isBold() const { return weight >= FontWeight::Semibold; }

    friend bool operator==(const Font&, const Font&) = default;
};

// A piece of text in its own font and colour (one run of an attributed text).
struct TextRun {
    std::string text;
    Font font;
    Color color;

    friend bool operator==(const TextRun&, const TextRun&) = default;
};

// How a line of text sits across its view.
enum class TextAlignment { Natural, Left, Center, Right, Justified };

// Where a line that does not fit is cut.
enum class LineBreakMode {
    ByWordWrapping,
    ByCharWrapping,
    ByClipping,
    ByTruncatingHead,
    ByTruncatingTail,
    ByTruncatingMiddle
};

}  // namespace pelmar::ui
