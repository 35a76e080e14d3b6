// Translation at the boundary: the embedded English catalogue loads, and
// the engine's texts are recognised whole, composed, nested and line by
// line, while anything else passes through.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>

#include <string>

#include "common/FormatCatalogue.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"

using namespace quelvox;

namespace {

class TranslationTest : public ::testing::Test {
protected:
    // The English of a marked engine text.
    static std::string En(const char* source) { return TranslateText(kEngineTextContext, source); }
    // `pattern` with its first %s (or %d) replaced by `value`.
    static std::string Put(std::string pattern, const std::string& value) {
        size_t at = pattern.find('%');
        while (at != std::string::npos && pattern.compare(at, 2, "%%") == 0) {
            pattern.replace(at, 2, "%");
            at = pattern.find('%', at + 1);
        }
        if (at != std::string::npos) pattern.replace(at, 2, value);
        return pattern;
    }

    int argc_ = 1;
    char name_[8] = "test";
    char* argv_[2] = {name_, nullptr};
    QCoreApplication app_{argc_, argv_};
};

TEST_F(TranslationTest, EnglishCatalogueIsEmbeddedAndLoads) {
    EXPECT_TRUE(QFile::exists(":/i18n/quelvox_engine_en.qm"));
    EXPECT_EQ(En(kCancelledRow), kCancelledRow);  // nothing installed yet
    UseLanguage(app_, Language::English);
    EXPECT_EQ(En(kCancelledRow), "Cancelled");
    EXPECT_EQ(TranslateEngineTextUtf8(kFailedRow), "Conversion failed");
    // Back to Chinese: every text as the engine made it.
    UseLanguage(app_, Language::Chinese);
    EXPECT_EQ(TranslateEngineTextUtf8(kFailedRow), kFailedRow);
    const std::string composed = "转换失败 (无法写入输出文件: 磁盘已满)";
    EXPECT_EQ(TranslateEngineTextUtf8(composed), composed);
}

TEST_F(TranslationTest, ComposedTextsKeepTheirArgumentsAndTranslateNestedOnes) {
    UseLanguage(app_, Language::English);
    // A failure whose detail is itself a template with a foreign cause.
    EXPECT_EQ(TranslateEngineTextUtf8("转换失败 (无法写入输出文件: 磁盘已满 (28))"),
              Put(En(kFailedWithDetailRow), Put(En(kWriteFailedDetail), "磁盘已满 (28)")));
    // Numbers, a literal percent sign and a file name.
    EXPECT_EQ(TranslateEngineTextUtf8("[42%] 正在转换 歌曲 (现场).mp3..."),
              Put(Put(En(kConvertingPass), "42"), "歌曲 (现场).mp3"));
    // A format name as the argument of the run's text.
    const std::string aac = "AAC (高级音频编码)";
    const std::string aacEnglish = TranslateText(kFormatCatalogueTextContext, "AAC (高级音频编码)");
    EXPECT_NE(aacEnglish, aac);
    EXPECT_EQ(TranslateEngineTextUtf8("转换 3 of -1 文件到 " + aac + "..."),
              Put(Put(Put(En(kRunText), "3"), "-1"), aacEnglish));
    EXPECT_EQ(TranslateEngineText(aac), QString::fromStdString(aacEnglish));
    // A text that is a whole entry with quotes and the separator of another.
    EXPECT_EQ(TranslateEngineTextUtf8(kSoundfontMissingRow), En(kSoundfontMissingRow));
}

TEST_F(TranslationTest, MultiLineTextsAndUnknownTexts) {
    UseLanguage(app_, Language::English);
    // A question of several lines is one entry.
    const std::string question = Put(kSoundfontQuestion, "/home/用户/.local/share/quelvox");
    EXPECT_EQ(TranslateEngineTextUtf8(question),
              Put(En(kSoundfontQuestion), "/home/用户/.local/share/quelvox"));
    // The adding message: head, file names, notes, line by line.
    const std::string note = Put(kAddSupportNote, "help@example.org");
    const std::string message = std::string(kAddFailedHead) + "\n\n/音乐/坏.mp3\n/音乐/b.wav\n\n" +
                                note + "\n\n/音乐/x.cda\n\n" + kCdaOnDiskNote;
    EXPECT_EQ(TranslateEngineTextUtf8(message), En(kAddFailedHead) +
                                                    "\n\n/音乐/坏.mp3\n/音乐/b.wav\n\n" +
                                                    Put(En(kAddSupportNote), "help@example.org") +
                                                    "\n\n/音乐/x.cda\n\n" + En(kCdaOnDiskNote));
    // Unknown texts, also near misses of a template, pass through.
    for (const std::string text :
         {"未知的错误", "歌曲.mp3", "转换失败 (", "[x%] 正在转换 a...", "Invalid data", ""}) {
        EXPECT_EQ(TranslateEngineTextUtf8(text), text);
    }
}

}  // namespace

TEST_F(TranslationTest, ChineseUsesQtsOwnChineseButtonTexts) {
    const QString catalogue = QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                              QStringLiteral("/qtbase_zh_CN.qm");
    if (!QFile::exists(catalogue)) GTEST_SKIP() << "Qt's Chinese catalogue is not installed";
    UseLanguage(app_, Language::Chinese);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    // English drops it again: Qt's own texts are English already.
    UseLanguage(app_, Language::English);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}
