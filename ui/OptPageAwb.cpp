#include "ui/OptPageAwb.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

#include "ui/AmrModeList.h"

namespace quelvox::ui {

COptPageAwb::COptPageAwb(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("AWB"), services, parent), binding_(s) {}

void COptPageAwb::Build() {
    QGroupBox* group = AddGroup(tr("编码选项"));
    auto* g = new QGridLayout(group);
    g->addWidget(new QLabel(tr("采样频率: 16000 Hz"), group), 0, 0, 1, 3);
    mode_ = AddModeRow(g, group, tr("比特率(&B):"), "mode", 1);
    dtx_ = new QCheckBox(tr("启用 DTX (断续传输)(&E)"), group);
    dtx_->setObjectName("dtx");
    g->addWidget(dtx_, 2, 0, 1, 3);
    g->setColumnStretch(2, 1);
    AddWideBandModes(mode_);
    binding_.Bind(mode_, setting::AWBMode);
    binding_.Bind(dtx_, setting::AWBDTX);
}

void COptPageAwb::OnApply() { binding_.Take(); }

void COptPageAwb::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    binding_.StoreTo(s);
}

}  // namespace quelvox::ui
