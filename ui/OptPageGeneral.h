// The general page of the options sheet: extension filter, hidden files,
// CD audio decoding, the stereo-to-mono rule, skip and length limits, the
// resampler, the files converted at once, the language and the volume
// (with the loudness target, its true-peak ceiling, album measuring and
// ReplayGain tags).
#pragma once

#include <string>
#include <string_view>

#include "ui/OptPage.h"
#include "ui/SettingBinding.h"

class QButtonGroup;
class QComboBox;
class QCheckBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

namespace quelvox::ui {

class COptPageGeneral : public COptPage {
    Q_OBJECT
public:
    COptPageGeneral(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    bool OnLeave() override;
    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

    // The filter text as stored: blanks and tabs removed, ";" read as ",",
    // a leading "*." or "." of each extension dropped, empty pieces left
    // out. Empty when no usable extension remains.
    static std::string CleanFilterText(std::string_view text);

private:
    void Build() override;
    void UpdateEnabling();
    // Takes the bound controls, then the ceiling (shown in dB, stored in
    // tenths).
    void TakeValues();

    CSettingBinding binding_;
    QButtonGroup* mono_ = nullptr;
    QComboBox* resampler_ = nullptr;
    QCheckBox* dither_ = nullptr;
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
    QSpinBox* loudnessTarget_ = nullptr;
    QDoubleSpinBox* ceiling_ = nullptr;
    QCheckBox* limiter_ = nullptr;
    QCheckBox* album_ = nullptr;
    QCheckBox* replayGain_ = nullptr;
};

}  // namespace quelvox::ui
