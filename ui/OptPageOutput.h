// The output page of the options sheet: where output files go and what
// happens when one exists already.
#pragma once

#include "ui/OptPage.h"
#include "ui/SettingBinding.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace quelvox::ui {

class COptPageOutput : public COptPage {
    Q_OBJECT
public:
    COptPageOutput(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    bool OnLeave() override;
    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

private:
    void Build() override;
    void UpdateEnabling();
    void Browse();
    void OpenFolder();

    CSettingBinding binding_;
    QComboBox* choice_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* open_ = nullptr;
    QCheckBox* keepTree_ = nullptr;
    QComboBox* treeFrom_ = nullptr;
    QComboBox* targetExists_ = nullptr;
    QCheckBox* fallback_ = nullptr;
    QCheckBox* browseAfter_ = nullptr;
};

}  // namespace quelvox::ui
