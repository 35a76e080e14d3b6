// The bit-rate lists of the AMR pages: one item per encoder mode, whose
// value is the mode index.
#pragma once

#include <QString>

class QComboBox;
class QGridLayout;
class QWidget;

namespace quelvox::ui {

// Fills `combo` with the narrow-band modes 0..7 (4.75 to 12.2 kbps).
void AddNarrowBandModes(QComboBox* combo);
// Fills `combo` with the wide-band modes 0..8 (6.60 to 23.85 kbps).
void AddWideBandModes(QComboBox* combo);

// A labelled mode list in columns 1 and 2 of `row`.
QComboBox* AddModeRow(QGridLayout* grid, QWidget* parent, const QString& label, const char* name,
                      int row);

}  // namespace quelvox::ui
