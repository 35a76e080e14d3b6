#include "ui/PageOptAmr.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include <iterator>

namespace quelvox::ui {

namespace {

// Mode lists; the item value is the mode index.
constexpr const char* kNarrowRates[] = {"4.75", "5.15", "5.9",  "6.7",
                                        "7.4",  "7.95", "10.2", "12.2"};
constexpr const char* kWideRates[] = {"6.60",  "8.85",  "12.65", "14.25", "15.85",
                                      "18.25", "19.85", "23.05", "23.85"};
// Shown when the stored mode is none of the list's.
constexpr int kFallbackMode = 4;

template <size_t N>
void FillModes(QComboBox* combo, const char* const (&rates)[N], int stored) {
    for (size_t i = 0; i < N; ++i) {
        combo->addItem(QString::fromLatin1(rates[i]) + QStringLiteral(" kbps"),
                       static_cast<int>(i));
    }
    const int index = combo->findData(stored);
    combo->setCurrentIndex(index >= 0 ? index : kFallbackMode);
}

QComboBox* AddModeRow(QGridLayout* g, QWidget* parent, const QString& label, const char* name,
                      int row) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    auto* l = new QLabel(label, parent);
    l->setBuddy(combo);
    g->addWidget(l, row, 1);
    g->addWidget(combo, row, 2);
    return combo;
}

}  // namespace

CAMROptPage::CAMROptPage(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("AMR"), services, parent) {
    v_.AMRType = s.AMRType;
    v_.AMRMode = s.AMRMode;
    v_.AMRWBMode = s.AMRWBMode;
    v_.AMRDTX = s.AMRDTX;
}

void CAMROptPage::Build() {
    QGroupBox* group = AddGroup(tr("编码选项"));
    auto* g = new QGridLayout(group);
    narrow_ = new QRadioButton(tr("NB (窄频带, 8000 Hz)(&N)"), group);
    narrow_->setObjectName("narrowBand");
    wide_ = new QRadioButton(tr("WB (宽频带, 16000 Hz)(&W)"), group);
    wide_->setObjectName("wideBand");
    g->addWidget(narrow_, 0, 0, 1, 3);
    narrowMode_ = AddModeRow(g, group, tr("比特率(&B):"), "narrowMode", 1);
    g->addWidget(wide_, 2, 0, 1, 3);
    wideMode_ = AddModeRow(g, group, tr("比特率(&R):"), "wideMode", 3);
    dtx_ = new QCheckBox(tr("启用 DTX (断续传输)(&E)"), group);
    dtx_->setObjectName("dtx");
    g->addWidget(dtx_, 4, 0, 1, 3);
    g->setColumnMinimumWidth(0, 20);
    g->setColumnStretch(2, 1);

    FillModes(narrowMode_, kNarrowRates, v_.AMRMode);
    FillModes(wideMode_, kWideRates, v_.AMRWBMode);
    (v_.AMRType == 1 ? wide_ : narrow_)->setChecked(true);
    dtx_->setChecked(v_.AMRDTX != 0);
    UpdateEnabling();
    connect(narrow_, &QRadioButton::clicked, this, [this] { UpdateEnabling(); });
    connect(wide_, &QRadioButton::clicked, this, [this] { UpdateEnabling(); });
}

void CAMROptPage::UpdateEnabling() {
    narrowMode_->setEnabled(narrow_->isChecked());
    wideMode_->setEnabled(wide_->isChecked());
}

void CAMROptPage::TakeControls() {
    v_.AMRType = wide_->isChecked() ? 1 : 0;
    v_.AMRDTX = dtx_->isChecked() ? 1 : 0;
}

bool CAMROptPage::OnLeave() {
    TakeControls();
    return true;
}

void CAMROptPage::OnApply() {
    TakeControls();
    v_.AMRMode = narrowMode_->currentData().toInt();
    v_.AMRWBMode = wideMode_->currentData().toInt();
}

void CAMROptPage::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    s.AMRType = v_.AMRType;
    s.AMRMode = v_.AMRMode;
    s.AMRWBMode = v_.AMRWBMode;
    s.AMRDTX = v_.AMRDTX;
}

CAWBOptPage::CAWBOptPage(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("AWB"), services, parent) {
    v_.AWBMode = s.AWBMode;
    v_.AWBDTX = s.AWBDTX;
}

void CAWBOptPage::Build() {
    QGroupBox* group = AddGroup(tr("编码选项"));
    auto* g = new QGridLayout(group);
    g->addWidget(new QLabel(tr("采样频率: 16000 Hz"), group), 0, 0, 1, 3);
    mode_ = AddModeRow(g, group, tr("比特率(&B):"), "mode", 1);
    dtx_ = new QCheckBox(tr("启用 DTX (断续传输)(&E)"), group);
    dtx_->setObjectName("dtx");
    g->addWidget(dtx_, 2, 0, 1, 3);
    g->setColumnStretch(2, 1);
    FillModes(mode_, kWideRates, v_.AWBMode);
    dtx_->setChecked(v_.AWBDTX != 0);
}

void CAWBOptPage::TakeControls() { v_.AWBDTX = dtx_->isChecked() ? 1 : 0; }

bool CAWBOptPage::OnLeave() {
    TakeControls();
    return true;
}

void CAWBOptPage::OnApply() {
    TakeControls();
    v_.AWBMode = mode_->currentData().toInt();
}

void CAWBOptPage::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    s.AWBMode = v_.AWBMode;
    s.AWBDTX = v_.AWBDTX;
}

}  // namespace quelvox::ui
