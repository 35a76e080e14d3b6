// Binds the controls of an options page to setting declarations: a bound
// control shows the page's copy of the value (made valid as the declaration
// says), Take() reads every bound control back into the copy, and StoreTo
// writes the bound values into the settings.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/SettingDecl.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace quelvox::ui {

class CSettingBinding {
public:
    // Cleans an edit's text as it is taken; the edit then shows the result.
    using TextCleaner = std::function<std::string(std::string_view)>;

    // The page edits a copy of `settings`.
    explicit CSettingBinding(const CSettings& settings) : values_(settings) {}

    // The page's values: as loaded, and after Take() as the controls show.
    const CSettings& Values() const { return values_; }
    // For values a page sets itself rather than through a bound control;
    // Keep() them so that StoreTo writes them.
    CSettings& Edit() { return values_; }

    // Checked for a nonzero value; taken as 1 or 0.
    void Bind(QCheckBox* box, const SettingDecl& decl);
    // The spin box takes the declaration's range.
    void Bind(QSpinBox* spin, const SettingDecl& decl);
    // An integer: the item whose data is the value is selected (the
    // fallback's item for an invalid value). A text: an editable combo box
    // shows it; a fixed one selects the item whose data is the text, and
    // a stored text that none holds is added as an item of its own, so
    // that it is kept.
    void Bind(QComboBox* combo, const SettingDecl& decl);
    void Bind(QLineEdit* edit, const SettingDecl& decl, TextCleaner clean = {});
    // Button i stands for valuesById[i], or for the value i when the list
    // is empty.
    void Bind(QButtonGroup* group, const SettingDecl& decl, std::vector<int> valuesById = {});
    // A value without a control that StoreTo writes too.
    void Keep(const SettingDecl& decl);
    // Makes the page's value valid now and keeps it: StoreTo writes it
    // even when its control is never built.
    void KeepValid(const SettingDecl& decl);

    // Reads every bound control into the page's values.
    void Take();
    // Writes the bound and kept values into `settings`; nothing when
    // nothing is bound (a page never shown).
    void StoreTo(CSettings& settings) const;

private:
    // The page's value of `decl`, made valid.
    int ValidValue(const SettingDecl& decl) const;

    struct Bound {
        const SettingDecl* decl;
        std::function<void()> take;  // empty for kept values
    };
    CSettings values_;
    std::vector<Bound> bound_;
};

}  // namespace quelvox::ui
