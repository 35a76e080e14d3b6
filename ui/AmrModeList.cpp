#include "ui/AmrModeList.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

#include <cstddef>

namespace quelvox::ui {

namespace {

constexpr const char* kNarrowRates[] = {"4.75", "5.15", "5.9",  "6.7",
                                        "7.4",  "7.95", "10.2", "12.2"};
constexpr const char* kWideRates[] = {"6.60",  "8.85",  "12.65", "14.25", "15.85",
                                      "18.25", "19.85", "23.05", "23.85"};

template <size_t N>
void AddModes(QComboBox* combo, const char* const (&rates)[N]) {
    for (size_t i = 0; i < N; ++i) {
        combo->addItem(QString::fromLatin1(rates[i]) + QStringLiteral(" kbps"),
                       static_cast<int>(i));
    }
}

}  // namespace

void AddNarrowBandModes(QComboBox* combo) { AddModes(combo, kNarrowRates); }

void AddWideBandModes(QComboBox* combo) { AddModes(combo, kWideRates); }

QComboBox* AddModeRow(QGridLayout* grid, QWidget* parent, const QString& label, const char* name,
                      int row) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    auto* l = new QLabel(label, parent);
    l->setBuddy(combo);
    grid->addWidget(l, row, 1);
    grid->addWidget(combo, row, 2);
    return combo;
}

}  // namespace quelvox::ui
