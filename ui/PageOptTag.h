// The tag page of the options sheet: where the output's tags come from,
// how track numbers are given, and the custom tag values.
#pragma once

#include <string>

#include "ui/OptPage.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace quelvox::ui {

class CPageOptID3 : public COptPage {
    Q_OBJECT
public:
    struct Values {
        int ID3TagType = 2;      // 1 custom, 2 from the source, 0 none
        int TrackNumType = 0;    // 0 none, 1 position in the run, 2 custom
        int CustomTrackNum = 0;  // 0..255
        int TitleAsFileName = 1;
        std::string Title, Artist, Album, Year, Genre, Comment, Composer, Copyright;
    };

    CPageOptID3(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    bool OnLeave() override;
    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

    const Values& PageValues() const { return v_; }

private:
    void Build() override;
    void TakeControls();
    void UpdateEnabling();

    Values v_;
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
};

}  // namespace quelvox::ui
