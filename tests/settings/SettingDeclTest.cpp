// The declarations of the stored values: one for every stored name, and
// the valid values a page and loading keep.
#include "settings/SettingDecl.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace quelvox {
namespace {

TEST(SettingDeclTest, EveryStoredNameHasOneDeclarationWithOneField) {
    std::vector<std::string> names;
    for (const SettingDecl* decl : setting::kTable) {
        names.emplace_back(decl->name);
        EXPECT_NE(decl->intField == nullptr, decl->textField == nullptr) << decl->name;
        if (!decl->IsText()) {
            EXPECT_TRUE(decl->IsValid(decl->Default())) << decl->name;
        }
    }
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
    EXPECT_EQ(SettingNames({}), names);
}

TEST(SettingDeclTest, ValuesOutsideBecomeTheFallbackOrTheNearestEnd) {
    EXPECT_EQ(setting::TargetExistsOpt.Valid(kTargetSkip), kTargetSkip);
    EXPECT_EQ(setting::TargetExistsOpt.Valid(5), kTargetRename);
    EXPECT_EQ(setting::DestOutputFolderOpt.Valid(3), kOutputToSourceFolder);
    EXPECT_EQ(setting::AMRMode.Valid(9), setting::kFallbackAmrMode);
    EXPECT_EQ(setting::ID3TagType.Valid(-1), 0);
    EXPECT_EQ(setting::SimultaneousFiles.Valid(1000), setting::SimultaneousFiles.maximum);
    EXPECT_EQ(setting::Volume.Valid(0), setting::Volume.minimum);
    EXPECT_EQ(setting::CustomTrackNum.Valid(300), 255);
}

TEST(SettingDeclTest, SettingByNameKeepsTheDeclaredRange) {
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    for (const SettingDecl* decl : {&setting::LoudnessTarget, &setting::TruePeakCeiling,
                                    &setting::Volume, &setting::SimultaneousFiles}) {
        CSettings s("");
        ASSERT_TRUE(SetSettingByName(s, catalogue, decl->name, std::to_string(decl->minimum - 1)));
        EXPECT_EQ(s.*(decl->intField), decl->minimum) << decl->name;
        ASSERT_TRUE(SetSettingByName(s, catalogue, decl->name, std::to_string(decl->maximum + 1)));
        EXPECT_EQ(s.*(decl->intField), decl->maximum) << decl->name;
    }
    // A run's file count keeps the same range.
    CSettings s("");
    s.SimultaneousFiles = setting::SimultaneousFiles.maximum + 1;
    EXPECT_EQ(FilesAtOnce(s), setting::SimultaneousFiles.maximum);
}

TEST(SettingDeclTest, LoadingKeepsOnlyTheValuesDeclaredSo) {
    testsupport::TempDir dir;
    const SettingsLocation location{dir.file("q.ini")};
    CSettings stored("");
    stored.WMAChannels = 5;  // kept valid on loading
    stored.AMRMode = 9;      // left to the page
    stored.TargetExistsOpt = 5;
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    ASSERT_TRUE(SaveSettings(stored, catalogue, kSaveOptions, location));
    CSettings loaded("");
    LoadSettings(loaded, catalogue, location);
    EXPECT_EQ(loaded.WMAChannels, 2);
    EXPECT_EQ(loaded.AMRMode, 9);
    EXPECT_EQ(loaded.TargetExistsOpt, 5);
}

}  // namespace
}  // namespace quelvox
