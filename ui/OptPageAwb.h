// The encoding page of the ".awb" output (wide band): the mode and
// discontinuous transmission.
#pragma once

#include "ui/OptPage.h"
#include "ui/SettingBinding.h"

class QCheckBox;
class QComboBox;

namespace quelvox::ui {

class COptPageAwb : public COptPage {
    Q_OBJECT
public:
    COptPageAwb(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

private:
    void Build() override;

    CSettingBinding binding_;
    QComboBox* mode_ = nullptr;
    QCheckBox* dtx_ = nullptr;
};

}  // namespace quelvox::ui
