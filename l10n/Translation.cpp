#include "l10n/Translation.h"

#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include <string_view>
#include <vector>

namespace quelvox {

namespace {

// Object name of the translators UseLanguage installs, so a later call
// finds and removes them.
constexpr const char* kTranslatorName = "quelvox-translator";

// The kinds of a pattern's places in order ("sd" for "%s ... %d"); "%%" is
// no place.
std::string Places(std::string_view pattern) {
    std::string kinds;
    for (size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        const char next = pattern[i + 1];
        if (next == 's' || next == 'd') kinds += next;
        ++i;
    }
    return kinds;
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
    if (pattern != text.source && Places(pattern) != Places(text.source)) pattern = text.source;
    std::vector<std::string> args;
    args.reserve(text.args.size());
    for (const Text& arg : text.args) args.push_back(ShowTextUtf8(arg));
    return FillPlaces(pattern, args);
}

QString ShowText(const Text& text) { return QString::fromStdString(ShowTextUtf8(text)); }

std::string TranslateText(const char* context, const char* source) {
    return QCoreApplication::translate(context, source).toStdString();
}

}  // namespace quelvox
