// The encoding pages of the AMR outputs: ".amr" (narrow or wide band) and
// ".awb" (wide band).
#pragma once

#include "ui/OptPage.h"

class QCheckBox;
class QComboBox;
class QRadioButton;

namespace quelvox::ui {

class CAMROptPage : public COptPage {
    Q_OBJECT
public:
    struct Values {
        int AMRType = 0;    // 0 narrow band, 1 wide band
        int AMRMode = 6;    // 0..7
        int AMRWBMode = 6;  // 0..8
        int AMRDTX = 0;
    };

    CAMROptPage(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    bool OnLeave() override;
    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

    const Values& PageValues() const { return v_; }

private:
    void Build() override;
    void TakeControls();
    void UpdateEnabling();

    Values v_;
    QRadioButton* narrow_ = nullptr;
    QRadioButton* wide_ = nullptr;
    QComboBox* narrowMode_ = nullptr;
    QComboBox* wideMode_ = nullptr;
    QCheckBox* dtx_ = nullptr;
};

class CAWBOptPage : public COptPage {
    Q_OBJECT
public:
    struct Values {
        int AWBMode = 6;  // 0..8
        int AWBDTX = 0;
    };

    CAWBOptPage(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    bool OnLeave() override;
    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

    const Values& PageValues() const { return v_; }

private:
    void Build() override;
    void TakeControls();

    Values v_;
    QComboBox* mode_ = nullptr;
    QCheckBox* dtx_ = nullptr;
};

}  // namespace quelvox::ui
