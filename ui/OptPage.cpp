#include "ui/OptPage.h"

#include <QGroupBox>
#include <QVBoxLayout>

#include <algorithm>

namespace quelvox::ui {

COptPage::COptPage(const QString& caption, COptServices& services, QWidget* parent)
    : QWidget(parent), services_(services), caption_(caption) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
}

void COptPage::EnsureBuilt() {
    if (built_) return;
    built_ = true;
    Build();
    FinishLayout();
}

QGroupBox* COptPage::AddGroup(const QString& heading) {
    auto* group = new QGroupBox(heading, this);
    static_cast<QVBoxLayout*>(layout())->addWidget(group);
    return group;
}

void COptPage::FinishLayout() { static_cast<QVBoxLayout*>(layout())->addStretch(1); }

CStepSpin::CStepSpin(int minimum, int stepFloor, int maximum, int step, QWidget* parent)
    : QSpinBox(parent), stepFloor_(stepFloor) {
    setRange(minimum, maximum);
    setSingleStep(step);
    setGroupSeparatorShown(false);
}

void CStepSpin::stepBy(int steps) {
    long long next = static_cast<long long>(value()) + static_cast<long long>(steps) * singleStep();
    // Downward arrows stop at the floor, or where a smaller typed value is.
    if (steps < 0) next = std::max<long long>(next, std::min(stepFloor_, value()));
    setValue(static_cast<int>(std::clamp<long long>(next, minimum(), maximum())));
    selectAll();
}

QAbstractSpinBox::StepEnabled CStepSpin::stepEnabled() const {
    StepEnabled enabled = QSpinBox::stepEnabled();
    if (value() <= stepFloor_) enabled &= ~StepDownEnabled;
    return enabled;
}

QSpinBox* MakeSpin(int minimum, int maximum, int step, QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setGroupSeparatorShown(false);
    return spin;
}

QString FromStd(const std::string& text) { return QString::fromStdString(text); }
std::string ToStd(const QString& text) { return text.toStdString(); }

}  // namespace quelvox::ui
