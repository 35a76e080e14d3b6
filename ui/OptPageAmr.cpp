#include "ui/OptPageAmr.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>

#include "ui/AmrModeList.h"

namespace quelvox::ui {

COptPageAmr::COptPageAmr(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("AMR"), services, parent), binding_(s) {}

void COptPageAmr::Build() {
    QGroupBox* group = AddGroup(tr("编码选项"));
    auto* g = new QGridLayout(group);
    narrow_ = new QRadioButton(tr("NB (窄频带, 8000 Hz)(&N)"), group);
    narrow_->setObjectName("narrowBand");
    wide_ = new QRadioButton(tr("WB (宽频带, 16000 Hz)(&W)"), group);
    wide_->setObjectName("wideBand");
    band_ = new QButtonGroup(this);
    band_->addButton(narrow_, 0);
    band_->addButton(wide_, 1);
    g->addWidget(narrow_, 0, 0, 1, 3);
    narrowMode_ = AddModeRow(g, group, tr("比特率(&B):"), "narrowMode", 1);
    g->addWidget(wide_, 2, 0, 1, 3);
    wideMode_ = AddModeRow(g, group, tr("比特率(&R):"), "wideMode", 3);
    dtx_ = new QCheckBox(tr("启用 DTX (断续传输)(&E)"), group);
    dtx_->setObjectName("dtx");
    g->addWidget(dtx_, 4, 0, 1, 3);
    g->setColumnMinimumWidth(0, 20);
    g->setColumnStretch(2, 1);

    AddNarrowBandModes(narrowMode_);
    AddWideBandModes(wideMode_);
    binding_.Bind(narrowMode_, setting::AMRMode);
    binding_.Bind(wideMode_, setting::AMRWBMode);
    binding_.Bind(band_, setting::AMRType);
    binding_.Bind(dtx_, setting::AMRDTX);
    UpdateEnabling();
    connect(narrow_, &QRadioButton::clicked, this, [this] { UpdateEnabling(); });
    connect(wide_, &QRadioButton::clicked, this, [this] { UpdateEnabling(); });
}

void COptPageAmr::UpdateEnabling() {
    narrowMode_->setEnabled(narrow_->isChecked());
    wideMode_->setEnabled(wide_->isChecked());
}

void COptPageAmr::OnApply() { binding_.Take(); }

void COptPageAmr::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    binding_.StoreTo(s);
}

}  // namespace quelvox::ui
