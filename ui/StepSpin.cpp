#include "ui/StepSpin.h"

#include <algorithm>

namespace quelvox::ui {

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

}  // namespace quelvox::ui
