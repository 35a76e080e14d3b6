// The general page of the options sheet: extension filter, hidden files,
// CD audio decoding, the stereo-to-mono rule, skip and length limits, the
// resampler, the files converted at once, the language and the volume.
#pragma once

#include <string>
#include <string_view>

#include "ui/OptPage.h"

class QButtonGroup;
class QComboBox;
class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace quelvox::ui {

class COptGeneralPage : public COptPage {
    Q_OBJECT
public:
    struct Values {
        int MonoType = 0;  // 0 (L+R)/2, 1 left, 2 right
        int EnableExtFilter = 0;
        std::string FilterExts;
        int DoNotLoadHiddenFiles = 0;
        int EnableDTSForCDA = 0;
        int EnableSkipLength = 0;
        int SkipLength = 0;
        int EnableConvertLength = 0;
        int ConvertLength = 0;
        int VolumeType = 2;  // 0 normalise, 1 manual, 2 keep
        int Volume = 100;
        int Resampler = 0;  // 0 SoX, 1 libresample
        int SimultaneousFiles = 1;
        int Language = 0;  // 0 the system's, 1 Chinese, 2 English
    };

    COptGeneralPage(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    bool OnLeave() override;
    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

    const Values& PageValues() const { return v_; }

    // The filter text as stored: blanks and tabs removed, ";" read as ",",
    // a leading "*." or "." of each extension dropped, empty pieces left
    // out. Empty when no usable extension remains.
    static std::string CleanFilterText(std::string_view text);

private:
    void Build() override;
    void TakeControls();
    void UpdateEnabling();

    Values v_;
    QButtonGroup* mono_ = nullptr;
    QComboBox* resampler_ = nullptr;
    QSpinBox* filesAtOnce_ = nullptr;
    QComboBox* language_ = nullptr;
    QCheckBox* filterOn_ = nullptr;
    QLineEdit* filterText_ = nullptr;
    QCheckBox* hidden_ = nullptr;
    QCheckBox* cdaAsDts_ = nullptr;
    QCheckBox* skipOn_ = nullptr;
    QSpinBox* skip_ = nullptr;
    QCheckBox* lengthOn_ = nullptr;
    QSpinBox* length_ = nullptr;
    QButtonGroup* volumeType_ = nullptr;
    QSpinBox* volume_ = nullptr;
};

}  // namespace quelvox::ui
