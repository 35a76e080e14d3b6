// The encoding page of the WMA, WMV and ASF outputs: automatic, or one of
// the audio formats the Windows Media layer offers.
#pragma once

#include "ui/OptPage.h"
#include "ui/SettingBinding.h"

class QComboBox;

namespace quelvox::ui {

class COptPageWma : public COptPage {
    Q_OBJECT
public:
    COptPageWma(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;
    // Building the page looks for the WMA runtime (and may offer it).
    bool BuildsQuietly() const override { return false; }

    // Item values besides the format list indexes.
    static constexpr int kAutoItem = -1;
    static constexpr int kStoredItem = -2;  // the stored choice, not offered now

private:
    void Build() override;

    CSettingBinding binding_;
    bool userChose_ = false;
    QComboBox* formats_ = nullptr;
};

}  // namespace quelvox::ui
