// The output page of the options sheet: where output files go and what
// happens when one exists already.
#pragma once

#include <string>

#include "ui/OptPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace quelvox::ui {

class COptOutputPage : public COptPage {
    Q_OBJECT
public:
    struct Values {
        int DestOutputFolderOpt = 199;  // 199 source folder, 399 the folder below
        std::string DestSpecifiedFolder;
        int CreateDirs = 0;
        int CreateDirsFrom = 0;  // 0 from the added folder, 1 the whole path
        int TargetExistsOpt = 11;  // 11 rename, 22 overwrite, 33 skip
        int OutputFiles2MyDocuments = 1;
        int BrowseOutputFolder = 1;
    };

    COptOutputPage(const CSettings& settings, COptServices& services, QWidget* parent = nullptr);

    bool OnLeave() override;
    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

    const Values& PageValues() const { return v_; }

private:
    void Build() override;
    void TakeControls();
    void UpdateEnabling();
    void Browse();
    void OpenFolder();

    Values v_;
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
