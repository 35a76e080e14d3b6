// The options sheet: the general, output and tag pages, then one encoding
// page per output format, in catalogue order. The pages edit copies of the
// settings; OK writes back what the shown pages hold, rebuilds the filter
// list and saves the options; Cancel changes nothing but the start page.
//
// Thirty-one captions do not fit a row of tabs, so the captions stand in a
// list beside the page area, all visible at once.
#pragma once

#include <QDialog>

#include <vector>

#include "ui/OptPage.h"

class QListWidget;
class QPushButton;
class QStackedWidget;

namespace quelvox::ui {

class COptSheet : public QDialog {
    Q_OBJECT
public:
    // Builds the pages with copies of `settings` and of the encoding values
    // of `catalogue`; both are written back on OK. The sheet opens on the
    // page OptStartPageIndex names when there is such a page.
    COptSheet(CSettings& settings, std::vector<OutputFormatEntry>& catalogue,
              COptServices& services, QWidget* parent = nullptr);

    int PageCount() const { return static_cast<int>(pages_.size()); }
    COptPage* Page(int index) const { return pages_[static_cast<size_t>(index)]; }
    int CurrentIndex() const { return current_; }
    // Chooses a page as a click on its caption does: false, with the
    // current page kept, when that page refuses to be left.
    bool ChoosePage(int index);

    QListWidget* PageList() const { return list_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

    // OK: refused while the current page refuses to be left.
    void accept() override;
    // After OK or Cancel: the current page becomes the next start page.
    void done(int result) override;

private:
    void ShowPage(int index);

    CSettings& settings_;
    std::vector<OutputFormatEntry>& catalogue_;
    COptServices& services_;
    std::vector<COptPage*> pages_;
    int current_ = 0;
    QListWidget* list_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// The options command: runs the sheet modally. Returns whether it closed
// with OK.
bool ShowOptions(CSettings& settings, std::vector<OutputFormatEntry>& catalogue,
                 COptServices& services, QWidget* parent = nullptr);

}  // namespace quelvox::ui
