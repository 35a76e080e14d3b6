// A text for the user as the engine and the lower layers report it: the id
// of a marked text (its translation context and its Chinese source, with
// printf-style %s and %d places) and its arguments, or a literal that is
// never translated (file names, paths, library errors). A front end
// translates the id, then fills in the arguments, each shown the same way;
// the Chinese source stays the text shown without a catalogue.
#pragma once

#include <iosfwd>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace quelvox {

struct Text {
    // Null for a literal.
    const char* context = nullptr;
    const char* source = nullptr;
    std::string literal;
    std::vector<Text> args;

    Text() = default;
    // A literal, never translated: a file name, a path, a library's error,
    // or a text deliberately shown as it is. Explicit, so that no string
    // becomes a shown text unnoticed.
    explicit Text(std::string value) : literal(std::move(value)) {}
    explicit Text(const char* value) : literal(value ? value : "") {}

    // The marked text `source` of `context` with its arguments in order.
    template <typename... Args>
    static Text Marked(const char* context, const char* source, Args&&... args) {
        Text t;
        t.context = context;
        t.source = source;
        (t.args.push_back(Argument(std::forward<Args>(args))), ...);
        return t;
    }

    bool IsMarked() const { return source != nullptr; }
    void clear() { *this = Text(); }
    bool empty() const { return !source && literal.empty(); }
    // Whether this is the marked text `id`. Compared by content: an id's
    // string literal need not have one address in every translation unit
    // (unoptimised builds keep a copy per unit).
    bool Is(const char* id) const {
        return source && id && (source == id || std::strcmp(source, id) == 0);
    }

    // The text in its source language: the Chinese source with the
    // arguments filled in ("%%" is a percent sign).
    std::string Source() const;

    bool operator==(const Text& other) const;

private:
    static Text Argument(Text t) { return t; }
    static Text Argument(const std::string& s) { return Text(s); }
    static Text Argument(const char* s) { return Text(s); }
    static Text Argument(int n) { return Text(std::to_string(n)); }
    static Text Argument(long n) { return Text(std::to_string(n)); }
    static Text Argument(long long n) { return Text(std::to_string(n)); }
    static Text Argument(unsigned n) { return Text(std::to_string(n)); }
    static Text Argument(unsigned long n) { return Text(std::to_string(n)); }
};

// A text compared with a plain string reads as its source text.
inline bool operator==(const Text& text, const std::string& source) {
    return text.Source() == source;
}
inline bool operator==(const Text& text, const char* source) {
    return text.Source() == (source ? source : "");
}
// Writes the source text (for logs and test messages).
std::ostream& operator<<(std::ostream& out, const Text& text);

// Fills `pattern`'s %s and %d places with `args` in order ("%%" is a
// percent sign). Places without an argument stay empty; surplus arguments
// are dropped.
std::string FillPlaces(const std::string& pattern, const std::vector<std::string>& args);

}  // namespace quelvox
