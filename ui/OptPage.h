// What every page of the options sheet shares: its caption, building its
// controls when it is first shown, and the three page operations (leave,
// apply, store back); plus the services the pages call out to.
#pragma once

#include <QSpinBox>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

#include "common/FormatCatalogue.h"
#include "encoders/WmaFormats.h"
#include "settings/Settings.h"

class QGroupBox;

namespace quelvox::ui {

class IPrompts;

// What the sheet and its pages need from the window that opens them.
struct COptServices {
    IPrompts* prompts = nullptr;  // message boxes; required
    // The window's WMA format list (read only here). Null: the WMA page
    // shows only its automatic item.
    WmaFormatList* wmaFormats = nullptr;
    // The window's WMA runtime check: true when the runtime is available,
    // filling the format list the first time. Empty: the sheet builds the
    // list itself when it is empty.
    std::function<bool()> wmaRuntimeCheck;
    // Opens an existing folder in the file manager. Empty: the desktop's
    // handler of local folders.
    std::function<void(const QString& folder)> openFolder;
    // Where OK saves the options.
    SettingsLocation location;
    // Told whether OK could save them. Empty: a failure goes unsaid.
    std::function<void(bool saved)> settingsSaved;
};

class COptPage : public QWidget {
    Q_OBJECT
public:
    COptPage(const QString& caption, COptServices& services, QWidget* parent = nullptr);

    const QString& Caption() const { return caption_; }
    // Whether the page has been shown (and its controls built).
    bool IsShown() const { return built_; }
    // Builds the controls from the page's values the first time.
    void EnsureBuilt();

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
};

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

// A number edit with its spin: no thousands separators, arrow keys active.
QSpinBox* MakeSpin(int minimum, int maximum, int step, QWidget* parent);

QString FromStd(const std::string& text);
std::string ToStd(const QString& text);

}  // namespace quelvox::ui
