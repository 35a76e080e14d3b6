#include "ui/SettingBinding.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>
#include <utility>

namespace quelvox::ui {

int CSettingBinding::ValidValue(const SettingDecl& decl) const {
    return decl.Valid(values_.*decl.intField);
}

void CSettingBinding::Bind(QCheckBox* box, const SettingDecl& decl) {
    box->setChecked(ValidValue(decl) != 0);
    bound_.push_back(
        {&decl, [this, box, &decl] { values_.*decl.intField = box->isChecked() ? 1 : 0; }});
}

void CSettingBinding::Bind(QSpinBox* spin, const SettingDecl& decl) {
    spin->setRange(decl.minimum, decl.maximum);
    spin->setValue(ValidValue(decl));
    bound_.push_back({&decl, [this, spin, &decl] {
                          // A half-typed number still in the edit counts as
                          // what it shows.
                          spin->interpretText();
                          values_.*decl.intField = spin->value();
                      }});
}

void CSettingBinding::Bind(QComboBox* combo, const SettingDecl& decl) {
    if (decl.IsText() && combo->isEditable()) {
        combo->setEditText(QString::fromStdString(values_.*decl.textField));
        bound_.push_back({&decl, [this, combo, &decl] {
                              values_.*decl.textField = combo->currentText().toStdString();
                          }});
        return;
    }
    if (decl.IsText()) {
        const QString value = QString::fromStdString(values_.*decl.textField);
        int index = combo->findData(value);
        if (index < 0) {
            combo->addItem(value, value);
            index = combo->count() - 1;
        }
        combo->setCurrentIndex(index);
        bound_.push_back({&decl, [this, combo, &decl] {
                              values_.*decl.textField = combo->currentData().toString().toStdString();
                          }});
        return;
    }
    combo->setCurrentIndex(std::max(combo->findData(ValidValue(decl)), 0));
    bound_.push_back(
        {&decl, [this, combo, &decl] { values_.*decl.intField = combo->currentData().toInt(); }});
}

void CSettingBinding::Bind(QLineEdit* edit, const SettingDecl& decl, TextCleaner clean) {
    edit->setText(QString::fromStdString(values_.*decl.textField));
    bound_.push_back({&decl, [this, edit, &decl, clean = std::move(clean)] {
                          std::string text = edit->text().toStdString();
                          if (clean) {
                              text = clean(text);
                              edit->setText(QString::fromStdString(text));
                          }
                          values_.*decl.textField = std::move(text);
                      }});
}

void CSettingBinding::Bind(QButtonGroup* group, const SettingDecl& decl,
                           std::vector<int> valuesById) {
    const int value = ValidValue(decl);
    int id = value;
    if (!valuesById.empty()) {
        const auto it = std::find(valuesById.begin(), valuesById.end(), value);
        id = it != valuesById.end() ? static_cast<int>(it - valuesById.begin()) : 0;
    }
    if (QAbstractButton* button = group->button(id)) button->setChecked(true);
    bound_.push_back({&decl, [this, group, &decl, values = std::move(valuesById)] {
                          const int checked = group->checkedId();
                          const bool mapped =
                              checked >= 0 && static_cast<size_t>(checked) < values.size();
                          values_.*decl.intField =
                              mapped ? values[static_cast<size_t>(checked)] : checked;
                      }});
}

void CSettingBinding::Keep(const SettingDecl& decl) { bound_.push_back({&decl, {}}); }

void CSettingBinding::KeepValid(const SettingDecl& decl) {
    values_.*decl.intField = ValidValue(decl);
    Keep(decl);
}

void CSettingBinding::Take() {
    for (const Bound& b : bound_) {
        if (b.take) b.take();
    }
}

void CSettingBinding::StoreTo(CSettings& settings) const {
    for (const Bound& b : bound_) {
        if (b.decl->IsText()) {
            settings.*b.decl->textField = values_.*b.decl->textField;
        } else {
            settings.*b.decl->intField = values_.*b.decl->intField;
        }
    }
}

}  // namespace quelvox::ui
