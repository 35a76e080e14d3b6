// The encoding page of one output format: the codec within the format and,
// unless the program chooses them, the sample rate, bit rate and channels.
#pragma once

#include <cstddef>

#include "ui/OptPage.h"

class QCheckBox;
class QComboBox;

namespace quelvox::ui {

class COptPageAudio : public COptPage {
    Q_OBJECT
public:
    // The page of catalogue[entryIndex].
    COptPageAudio(const std::vector<OutputFormatEntry>& catalogue, size_t entryIndex,
                  COptServices& services, QWidget* parent = nullptr);

    void OnApply() override;
    void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const override;

    int FormatCode() const { return entry_.code; }

    // Item texts of the lists.
    static QString RateLabel(int rate);      // "%d Hz"
    static QString BitRateLabel(int value);  // "%d bit", "%.2f kbps" or "%d kbps"

private:
    void Build() override;
    void FillLists();
    void UpdateEnabling();
    void TakeSelections();

    // A copy of the entry: its encoding values are the page's.
    OutputFormatEntry entry_;
    size_t entryIndex_;
    bool hasRates_ = false;
    bool hasBitRates_ = false;
    QComboBox* codec_ = nullptr;
    QCheckBox* auto_ = nullptr;
    QComboBox* rate_ = nullptr;
    QComboBox* bitRate_ = nullptr;
    QComboBox* channels_ = nullptr;
};

}  // namespace quelvox::ui
