// What every page of the options sheet shares: its caption, building its
// controls when it is first shown, and the three page operations (leave,
// apply, store back).
#pragma once

#include <QString>
#include <QWidget>

#include <string>
#include <vector>

#include "common/FormatCatalogue.h"
#include "settings/Settings.h"
#include "ui/OptServices.h"
#include "ui/StepSpin.h"

class QGroupBox;
class QSpinBox;

namespace quelvox::ui {

class COptPage : public QWidget {
    Q_OBJECT
public:
    COptPage(const QString& caption, COptServices& services, QWidget* parent = nullptr);

    const QString& Caption() const { return caption_; }
    // Whether the page has been shown (its controls are built then).
    bool IsShown() const { return shown_; }
    void MarkShown() { shown_ = true; }
    // Builds the controls from the page's values the first time.
    void EnsureBuilt();
    // Whether building the page asks nothing and reaches no runtime, so
    // that it may be built before it is shown (the sheet takes the size of
    // its largest page).
    virtual bool BuildsQuietly() const { return true; }

    // Leaving the page (another page chosen, or OK): checks and takes the
    // control values. False keeps the page, after saying why.
    virtual bool OnLeave() { return true; }
    // OK on a shown page: takes every control value into the page values.
    virtual void OnApply() = 0;
    // OK: writes the page values back (unchanged for a page never shown).
    virtual void StoreTo(CSettings& settings, std::vector<OutputFormatEntry>& catalogue) const = 0;

protected:
    // Creates the controls inside the page's layout and fills them.
    virtual void Build() = 0;
    // A framed group with its heading, added to the page's layout.
    QGroupBox* AddGroup(const QString& heading);
    void FinishLayout();

    COptServices& services_;

private:
    QString caption_;
    bool built_ = false;
    bool shown_ = false;
};

// A number edit with its spin: no thousands separators, arrow keys active.
// Its range comes from the setting it is bound to.
QSpinBox* MakeSpin(int step, QWidget* parent);

QString FromStd(const std::string& text);
std::string ToStd(const QString& text);

}  // namespace quelvox::ui
