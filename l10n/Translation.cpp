#include "l10n/Translation.h"

#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include <string_view>
#include <vector>

#include "common/FormatCatalogue.h"
#include "engine/Texts.h"

namespace quelvox {

namespace {

// Object name of the translators UseLanguage installs, so a later call
// finds and removes them.
constexpr const char* kTranslatorName = "quelvox-translator";

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// One piece of a template: literal text, or an argument (%s or %d).
struct Piece {
    std::string literal;
    char argument = 0;  // 's', 'd', or 0 for a literal
};

std::vector<Piece> SplitTemplate(std::string_view text) {
    std::vector<Piece> pieces;
    std::string literal;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == '%') {
                literal += '%';
                ++i;
                continue;
            }
            if (next == 's' || next == 'd') {
                if (!literal.empty()) pieces.push_back({std::move(literal), 0});
                literal.clear();
                pieces.push_back({{}, next});
                ++i;
                continue;
            }
        }
        literal += text[i];
    }
    if (!literal.empty()) pieces.push_back({std::move(literal), 0});
    return pieces;
}

// A known text: its context, source and pieces. `head` and `tail` are the
// literal text it starts and ends with, for a quick refusal.
struct KnownText {
    const char* context;
    const char* source;
    std::vector<Piece> pieces;
    std::string head;
    std::string tail;
};

KnownText MakeKnown(const char* context, const char* source) {
    KnownText known{context, source, SplitTemplate(source), {}, {}};
    if (!known.pieces.empty() && !known.pieces.front().argument) {
        known.head = known.pieces.front().literal;
    }
    if (known.pieces.size() > 1 && !known.pieces.back().argument) {
        known.tail = known.pieces.back().literal;
    }
    return known;
}

// Every text the lookup recognises: the engine's table, then the format
// catalogue's names that are not plain ASCII (an ASCII text is never
// translated). Built once, never changed.
const std::vector<KnownText>& KnownTexts() {
    static const std::vector<KnownText> known = [] {
        std::vector<KnownText> list;
        for (const char* text : kEngineTexts) list.push_back(MakeKnown(kEngineTextContext, text));
        auto addName = [&](const char* name) {
            if (!name || IsAscii(name)) return;
            for (const KnownText& k : list) {
                if (std::string_view(k.source) == name) return;
            }
            list.push_back(MakeKnown(kFormatCatalogueTextContext, name));
        };
        for (const CodecEntry& codec : AllCodecEntries()) addName(codec.name);
        for (const OutputFormatEntry& entry : BuildFormatCatalogue()) {
            addName(entry.description);
            addName(entry.pageTitle);
        }
        return list;
    }();
    return known;
}

// Matches text[pos..] against pieces[index..], collecting the arguments.
bool Match(const std::vector<Piece>& pieces, size_t index, std::string_view text, size_t pos,
           std::vector<std::string_view>& args) {
    if (index == pieces.size()) return pos == text.size();
    const Piece& piece = pieces[index];
    if (!piece.argument) {
        if (text.compare(pos, piece.literal.size(), piece.literal) != 0) return false;
        return Match(pieces, index + 1, text, pos + piece.literal.size(), args);
    }
    if (piece.argument == 'd') {
        size_t end = pos;
        if (end < text.size() && text[end] == '-') ++end;
        const size_t digits = end;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
        if (end == digits) return false;
        args.push_back(text.substr(pos, end - pos));
        if (Match(pieces, index + 1, text, end, args)) return true;
        args.pop_back();
        return false;
    }
    // %s: up to each place where the rest can follow, the nearest first.
    if (index + 1 == pieces.size()) {
        args.push_back(text.substr(pos));
        return true;
    }
    const Piece& next = pieces[index + 1];
    for (size_t end = pos; end <= text.size(); ++end) {
        if (!next.argument) {
            end = text.find(next.literal, end);
            if (end == std::string_view::npos) return false;
        }
        args.push_back(text.substr(pos, end - pos));
        if (Match(pieces, index + 1, text, end, args)) return true;
        args.pop_back();
    }
    return false;
}

std::string TranslateLine(std::string_view text);

// The known text `known` with `args` put in, in the installed language.
std::string Compose(const KnownText& known, const std::vector<std::string_view>& args) {
    const std::string translated =
        QCoreApplication::translate(known.context, known.source).toStdString();
    std::vector<Piece> pieces = SplitTemplate(translated);
    size_t count = 0;
    for (const Piece& p : pieces) count += p.argument ? 1 : 0;
    // A translation must keep the arguments and their order; one that does
    // not is not used.
    bool sameArguments = count == args.size();
    if (sameArguments) {
        size_t i = 0;
        for (const Piece& p : known.pieces) {
            if (!p.argument) continue;
            while (!pieces[i].argument) ++i;
            sameArguments = sameArguments && pieces[i].argument == p.argument;
            ++i;
        }
    }
    if (!sameArguments) pieces = known.pieces;
    std::string out;
    size_t next = 0;
    for (const Piece& p : pieces) {
        if (!p.argument) {
            out += p.literal;
        } else {
            out += p.argument == 's' ? TranslateLine(args[next]) : std::string(args[next]);
            ++next;
        }
    }
    return out;
}

// A text translated as a whole: a known text, or itself.
std::string TranslateLine(std::string_view text) {
    if (IsAscii(text)) return std::string(text);
    std::vector<std::string_view> args;
    for (const KnownText& known : KnownTexts()) {
        if (text.size() < known.head.size() + known.tail.size()) continue;
        if (text.substr(0, known.head.size()) != known.head) continue;
        if (text.substr(text.size() - known.tail.size()) != known.tail) continue;
        args.clear();
        if (Match(known.pieces, 0, text, 0, args)) return Compose(known, args);
    }
    return std::string(text);
}

}  // namespace

void UseLanguage(QCoreApplication& app, Language language) {
    const QString name = QString::fromLatin1(kTranslatorName);
    for (QTranslator* old : app.findChildren<QTranslator*>(name, Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(old);
        delete old;
    }
    // Installs one catalogue, when it loads, under our translators' name.
    auto install = [&](const QString& file, const QString& folder) {
        auto* translator = new QTranslator(&app);
        translator->setObjectName(name);
        if (translator->load(file, folder)) {
            QCoreApplication::installTranslator(translator);
        } else {
            delete translator;
        }
    };
    if (language == Language::Chinese) {
        // Our texts need no catalogue in Chinese, but the buttons and menus
        // Qt draws itself (确定, 取消, the edit menu of a text field) come
        // from Qt's own Chinese catalogue when the system has it.
        install(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        return;
    }
    const QString catalogues = QStringLiteral(":/i18n");
    for (const QString& file :
         QDir(catalogues).entryList({QStringLiteral("*_en.qm")}, QDir::Files, QDir::Name))
        install(file, catalogues);
}

std::string ShowTextUtf8(const Text& text) {
    if (!text.IsMarked()) return text.literal;
    std::string pattern = text.context
                              ? QCoreApplication::translate(text.context, text.source).toStdString()
                              : std::string(text.source);
    // The translation must have the source's places, in the same order.
    auto places = [](const std::string& p) {
        std::string kinds;
        for (const Piece& piece : SplitTemplate(p))
            if (piece.argument) kinds += piece.argument;
        return kinds;
    };
    if (pattern != text.source && places(pattern) != places(text.source)) pattern = text.source;
    std::vector<std::string> args;
    args.reserve(text.args.size());
    for (const Text& arg : text.args) args.push_back(ShowTextUtf8(arg));
    return FillPlaces(pattern, args);
}

QString ShowText(const Text& text) { return QString::fromStdString(ShowTextUtf8(text)); }

std::string TranslateEngineTextUtf8(const std::string& text) {
    if (IsAscii(text)) return text;
    std::string whole = TranslateLine(text);
    if (whole != text || text.find('\n') == std::string::npos) return whole;
    // No whole entry: line by line (the adding message lists file names
    // between its head and its notes).
    std::string out;
    size_t start = 0;
    while (true) {
        const size_t end = text.find('\n', start);
        out += TranslateLine(std::string_view(text).substr(start, end - start));
        if (end == std::string::npos) break;
        out += '\n';
        start = end + 1;
    }
    return out;
}

QString TranslateEngineText(const std::string& text) {
    return QString::fromStdString(TranslateEngineTextUtf8(text));
}

std::string TranslateText(const char* context, const char* source) {
    return QCoreApplication::translate(context, source).toStdString();
}

}  // namespace quelvox
