#include "ui/OptPage.h"

#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

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

QSpinBox* MakeSpin(int step, QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setSingleStep(step);
    spin->setGroupSeparatorShown(false);
    return spin;
}

QString FromStd(const std::string& text) { return QString::fromStdString(text); }
std::string ToStd(const QString& text) { return text.toStdString(); }

}  // namespace quelvox::ui
