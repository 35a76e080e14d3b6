// Controls bound to setting declarations: they show the valid value, take
// back what they show, and write only the bound values.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QWidget>

#include <gtest/gtest.h>

#include "engine/TagPolicy.h"
#include "ui/SettingBinding.h"

namespace {

using namespace quelvox;
using quelvox::ui::CSettingBinding;

TEST(SettingBindingTest, ControlsShowValidValuesAndTakeBackWhatTheyShow) {
    CSettings s("");
    s.EnableSkipLength = 5;
    s.SimultaneousFiles = 500;
    s.TargetExistsOpt = 7;
    s.ID3TagType = kTagsCustom;
    s.FilterExts = "wav";
    CSettingBinding binding(s);
    QWidget page;
    auto* skipOn = new QCheckBox(&page);
    auto* files = new QSpinBox(&page);
    auto* target = new QComboBox(&page);
    for (int v : {kTargetRename, kTargetOverwrite, kTargetSkip}) target->addItem({}, v);
    auto* source = new QButtonGroup(&page);
    for (int i = 0; i < 3; ++i) source->addButton(new QRadioButton(&page), i);
    auto* filter = new QLineEdit(&page);
    binding.Bind(skipOn, setting::EnableSkipLength);
    binding.Bind(files, setting::SimultaneousFiles);
    binding.Bind(target, setting::TargetExistsOpt);
    binding.Bind(source, setting::ID3TagType, {kTagsCustom, kTagsFromSource, kTagsNone});
    binding.Bind(filter, setting::FilterExts,
                 [](std::string_view t) { return std::string(t) + ",mp3"; });

    EXPECT_TRUE(skipOn->isChecked());
    EXPECT_EQ(files->maximum(), setting::SimultaneousFiles.maximum);
    EXPECT_EQ(files->value(), setting::SimultaneousFiles.maximum);
    EXPECT_EQ(target->currentData().toInt(), kTargetRename);
    EXPECT_EQ(source->checkedId(), 0);
    EXPECT_EQ(filter->text(), QStringLiteral("wav"));

    source->button(2)->setChecked(true);
    target->setCurrentIndex(1);
    binding.Take();
    EXPECT_EQ(binding.Values().EnableSkipLength, 1);
    EXPECT_EQ(binding.Values().ID3TagType, kTagsNone);
    EXPECT_EQ(binding.Values().TargetExistsOpt, kTargetOverwrite);
    EXPECT_EQ(filter->text(), QStringLiteral("wav,mp3"));

    CSettings out("");
    out.Volume = 321;
    binding.StoreTo(out);
    EXPECT_EQ(out.SimultaneousFiles, setting::SimultaneousFiles.maximum);
    EXPECT_EQ(out.FilterExts, "wav,mp3");
    EXPECT_EQ(out.Volume, 321);  // not bound
}

TEST(SettingBindingTest, NothingBoundStoresNothingAndKeptValuesAreStored) {
    CSettings s("");
    s.WMABitRate = 64000;
    CSettingBinding binding(s);
    CSettings out("");
    binding.StoreTo(out);
    EXPECT_EQ(out.WMABitRate, 128000);
    binding.Keep(setting::WMABitRate);
    binding.Edit().WMABitRate = 32000;
    binding.StoreTo(out);
    EXPECT_EQ(out.WMABitRate, 32000);
}

}  // namespace
