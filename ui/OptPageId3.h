// The tag page of the options sheet: where the output's tags come from,
// how track numbers are given, and the custom tag values.
#pragma once

#include "ui/OptPage.h"
#include "ui/SettingBinding.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace quelvox::ui {

class COptPageId3 : public COptPage {
    Q_OBJECT
public:
    COptPageId3(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    bool OnLeave() override;
    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

private:
    void Build() override;
    void UpdateEnabling();
    // A code page as the list shows it: its name and what it was used for.
    static QString CodePageName(const char* page);

    CSettingBinding binding_;
    QButtonGroup* source_ = nullptr;  // ids: 0 custom, 1 from source, 2 none
    QButtonGroup* trackKind_ = nullptr;
    QSpinBox* trackNumber_ = nullptr;
    QCheckBox* titleAsFileName_ = nullptr;
    QLineEdit* title_ = nullptr;
    QLineEdit* artist_ = nullptr;
    QLineEdit* album_ = nullptr;
    QLineEdit* year_ = nullptr;
    QComboBox* genre_ = nullptr;
    QLineEdit* comment_ = nullptr;
    QLineEdit* composer_ = nullptr;
    QLineEdit* copyright_ = nullptr;
    QLineEdit* albumArtist_ = nullptr;
    QLineEdit* disc_ = nullptr;
    QComboBox* codePage_ = nullptr;
};

}  // namespace quelvox::ui
