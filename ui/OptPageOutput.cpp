#include "ui/OptPageOutput.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>

#include "ui/Prompts.h"

namespace quelvox::ui {

COptPageOutput::COptPageOutput(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("输出"), services, parent), binding_(s) {}

void COptPageOutput::Build() {
    QGroupBox* group = AddGroup(tr("输出"));
    auto* g = new QGridLayout(group);

    choice_ = new QComboBox(group);
    choice_->setObjectName("folderChoice");
    choice_->addItem(tr("与源文件相同"), kOutputToSourceFolder);
    choice_->addItem(tr("指定文件夹"), kOutputToSpecifiedFolder);
    auto* choiceLabel = new QLabel(tr("输出文件夹(&O):"), group);
    choiceLabel->setBuddy(choice_);
    g->addWidget(choiceLabel, 0, 0);
    g->addWidget(choice_, 0, 1, 1, 3);

    folder_ = new QLineEdit(group);
    folder_->setObjectName("folder");
    auto* folderLabel = new QLabel(tr("指定文件夹(&S):"), group);
    folderLabel->setBuddy(folder_);
    browse_ = new QPushButton(tr("浏览(&B)"), group);
    browse_->setObjectName("browse");
    open_ = new QPushButton(tr("打开(&P)"), group);
    open_->setObjectName("open");
    g->addWidget(folderLabel, 1, 0);
    g->addWidget(folder_, 1, 1);
    g->addWidget(browse_, 1, 2);
    g->addWidget(open_, 1, 3);

    keepTree_ = new QCheckBox(tr("保留原始目录树(&K)"), group);
    keepTree_->setObjectName("keepTree");
    // Where the kept tree starts, beside the box that keeps it.
    treeFrom_ = new QComboBox(group);
    treeFrom_->setObjectName("treeFrom");
    treeFrom_->addItem(tr("从添加的文件夹开始"), kTreeFromAddedFolder);
    treeFrom_->addItem(tr("完整路径"), kTreeFromWholePath);
    auto* treeRow = new QHBoxLayout;
    treeRow->setContentsMargins(0, 0, 0, 0);
    treeRow->addWidget(keepTree_);
    treeRow->addWidget(treeFrom_);
    treeRow->addStretch(1);
    g->addLayout(treeRow, 2, 1, 1, 3);
    // The example shows how the program lays out folders here with either
    // start of the tree.
    auto* example =
        new QLabel(tr("例如: 添加了文件夹 \"/home/user/Music\", 源文件为 "
                      "\"/home/user/Music/pop/track01.mp3\", 输出文件夹为 \"/media/Output\". "
                      "如选中该选项, 从添加的文件夹开始则输出到 \"/media/Output/Music/pop/\", "
                      "完整路径则输出到 \"/media/Output/home/user/Music/pop/\"。"),
                   group);
    example->setWordWrap(true);
    g->addWidget(example, 3, 1, 1, 3);

    targetExists_ = new QComboBox(group);
    targetExists_->setObjectName("targetExists");
    targetExists_->addItem(tr("自动重命名 (在文件名末端添加数字)"), kTargetRename);
    targetExists_->addItem(tr("覆盖"), kTargetOverwrite);
    targetExists_->addItem(tr("跳过 (不转换)"), kTargetSkip);
    auto* targetLabel = new QLabel(tr("如果目标文件存在(&I)"), group);
    targetLabel->setBuddy(targetExists_);
    g->addWidget(targetLabel, 4, 0);
    g->addWidget(targetExists_, 4, 1, 1, 3);

    fallback_ = new QCheckBox(tr("如果创建文件失败,输出文件到 \"My Documents\"(&U)"), group);
    fallback_->setObjectName("fallback");
    browseAfter_ = new QCheckBox(tr("转换完成后浏览输出文件夹(&W)"), group);
    browseAfter_->setObjectName("browseAfter");
    g->addWidget(fallback_, 5, 0, 1, 4);
    g->addWidget(browseAfter_, 6, 0, 1, 4);
    g->setColumnStretch(1, 1);

    binding_.Bind(choice_, setting::DestOutputFolderOpt);
    binding_.Bind(targetExists_, setting::TargetExistsOpt);
    binding_.Bind(folder_, setting::DestSpecifiedFolder);
    binding_.Bind(keepTree_, setting::CreateDirs);
    // Any value but the whole path counts as the added folder.
    binding_.Bind(treeFrom_, setting::CreateDirsFrom);
    binding_.Bind(fallback_, setting::OutputFiles2MyDocuments);
    binding_.Bind(browseAfter_, setting::BrowseOutputFolder);
    UpdateEnabling();

    connect(choice_, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabling(); });
    connect(keepTree_, &QCheckBox::toggled, this, [this] { UpdateEnabling(); });
    connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
    connect(open_, &QPushButton::clicked, this, [this] { OpenFolder(); });
}

void COptPageOutput::UpdateEnabling() {
    const bool specified = choice_->currentData().toInt() == kOutputToSpecifiedFolder;
    folder_->setEnabled(specified);
    browse_->setEnabled(specified);
    open_->setEnabled(specified);
    keepTree_->setEnabled(specified);
    treeFrom_->setEnabled(specified && keepTree_->isChecked());
}

void COptPageOutput::Browse() {
    QString start = folder_->text();
    while (start.size() > 1 && start.endsWith(QLatin1Char('/'))) start.chop(1);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString chosen = QFileDialog::getExistingDirectory(this, tr("请选择输出文件夹:"), start);
    QApplication::restoreOverrideCursor();
    if (chosen.isEmpty()) return;
    folder_->setText(chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/'));
}

void COptPageOutput::OpenFolder() {
    const QString folder = folder_->text();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        if (services_.openFolder) {
            services_.openFolder(folder);
        } else {
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        }
        return;
    }
    services_.prompts->Warning(
        this, tr("该文件夹 \"%1\" 尚不存在.\n\n注意: 转换文件时程序将自动创建文件夹.").arg(folder));
}

bool COptPageOutput::OnLeave() {
    binding_.Take();
    const CSettings& v = binding_.Values();
    if (v.DestOutputFolderOpt == kOutputToSpecifiedFolder && v.DestSpecifiedFolder.empty()) {
        services_.prompts->Warning(this, tr("请选择一个输出文件夹."));
        folder_->setFocus();
        return false;
    }
    return true;
}

void COptPageOutput::OnApply() { binding_.Take(); }

void COptPageOutput::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    binding_.StoreTo(s);
}

}  // namespace quelvox::ui
