// The volume's spin box: typing reaches lower than the arrows go.
#pragma once

#include <QSpinBox>

namespace quelvox::ui {

// A spin box whose arrows stop at `stepFloor` while typing may go down to
// the minimum (the volume: typed 1..32767, arrows 10..32767).
class CStepSpin : public QSpinBox {
    Q_OBJECT
public:
    CStepSpin(int minimum, int stepFloor, int maximum, int step, QWidget* parent = nullptr);
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;

private:
    int stepFloor_;
};

}  // namespace quelvox::ui
