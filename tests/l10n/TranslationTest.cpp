// Translation at the boundary: the embedded English catalogue loads, and a
// text is shown by translating its id and then filling in its arguments,
// nested texts translated the same way and literals never.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>

#include <string>
#include <vector>

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
    EXPECT_EQ(ShowTextUtf8(EngineText(kFailedRow)), "Conversion failed");
    // Back to Chinese: every text as the engine's source.
    UseLanguage(app_, Language::Chinese);
    EXPECT_EQ(ShowTextUtf8(EngineText(kFailedRow)), kFailedRow);
    const Text composed =
        EngineText(kFailedWithDetailRow, EngineText(kWriteFailedDetail, "磁盘已满"));
    EXPECT_EQ(ShowTextUtf8(composed), "转换失败 (无法写入输出文件: 磁盘已满)");
}

TEST_F(TranslationTest, ArgumentsAreFilledInAfterTheIdIsTranslated) {
    UseLanguage(app_, Language::English);
    // A failure whose detail is itself a text with a foreign cause.
    EXPECT_EQ(ShowTextUtf8(EngineText(kFailedWithDetailRow,
                                      EngineText(kWriteFailedDetail, "磁盘已满 (28)"))),
              Put(En(kFailedWithDetailRow), Put(En(kWriteFailedDetail), "磁盘已满 (28)")));
    // Numbers, a literal percent sign and a file name.
    EXPECT_EQ(ShowTextUtf8(EngineText(kConvertingPass, 42, "歌曲 (现场).mp3")),
              Put(Put(En(kConvertingPass), "42"), "歌曲 (现场).mp3"));
    // A format name as the argument of the run's text.
    const char* const m4aName = "M4A (MPEG-4 音频)";
    const OutputFormatEntry* m4a = nullptr;
    const std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    for (const OutputFormatEntry& e : catalogue)
        if (e.description && std::string(e.description) == m4aName) m4a = &e;
    ASSERT_NE(m4a, nullptr);
    const std::string m4aEnglish = TranslateText(kFormatCatalogueTextContext, m4aName);
    EXPECT_NE(m4aEnglish, m4aName);
    EXPECT_EQ(ShowTextUtf8(EngineText(kRunText, 3, -1, FormatName(*m4a))),
              Put(Put(Put(En(kRunText), "3"), "-1"), m4aEnglish));
    // A question of several lines with a path in it.
    EXPECT_EQ(ShowTextUtf8(EngineText(kSoundfontQuestion, "/home/用户/.local/share/quelvox")),
              Put(En(kSoundfontQuestion), "/home/用户/.local/share/quelvox"));
}

TEST_F(TranslationTest, FileNamesAndLibraryErrorsAreNeverTranslated) {
    UseLanguage(app_, Language::English);
    // Names that read like the engine's texts stay as they are, alone and
    // as arguments.
    for (const std::string name : {"转换失败", "转换失败 (现场).mp3", "已取消", "[42%] 正在转换 a..."})
        EXPECT_EQ(ShowTextUtf8(Text(name)), name);
    EXPECT_EQ(ShowTextUtf8(EngineText(kFileStartText, "已取消.flac")),
              Put(En(kFileStartText), "已取消.flac"));
    EXPECT_EQ(ShowTextUtf8(EngineText(kFailedWithDetailRow, "Invalid data found")),
              Put(En(kFailedWithDetailRow), "Invalid data found"));
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
