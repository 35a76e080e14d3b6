// The encoding page of the ".amr" output: narrow or wide band, the mode of
// each, and discontinuous transmission.
#pragma once

#include "ui/OptPage.h"
#include "ui/SettingBinding.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QRadioButton;

namespace quelvox::ui {

class COptPageAmr : public COptPage {
    Q_OBJECT
public:
    COptPageAmr(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

private:
    void Build() override;
    void UpdateEnabling();

    CSettingBinding binding_;
    QButtonGroup* band_ = nullptr;  // ids: the AMRType values
    QRadioButton* narrow_ = nullptr;
    QRadioButton* wide_ = nullptr;
    QComboBox* narrowMode_ = nullptr;
    QComboBox* wideMode_ = nullptr;
    QCheckBox* dtx_ = nullptr;
};

}  // namespace quelvox::ui
