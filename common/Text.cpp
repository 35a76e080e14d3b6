#include "common/Text.h"

#include <cstring>
#include <ostream>

namespace quelvox {

std::string FillPlaces(const std::string& pattern, const std::vector<std::string>& args) {
    std::string out;
    out.reserve(pattern.size());
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char kind = pattern[i + 1];
            if (kind == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (kind == 's' || kind == 'd') {
                if (next < args.size()) out += args[next];
                ++next;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::string Text::Source() const {
    if (!source) return literal;
    std::vector<std::string> filled;
    filled.reserve(args.size());
    for (const Text& arg : args) filled.push_back(arg.Source());
    return FillPlaces(source, filled);
}

bool Text::operator==(const Text& other) const {
    if (IsMarked() != other.IsMarked()) return false;
    if (!IsMarked()) return literal == other.literal;
    return std::strcmp(source, other.source) == 0 && args == other.args;
}

std::ostream& operator<<(std::ostream& out, const Text& text) { return out << text.Source(); }

}  // namespace quelvox
