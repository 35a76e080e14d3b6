#include "ui/Prompts.h"

#include "common/Product.h"

#include <QMessageBox>

namespace quelvox::ui {

namespace {

QMessageBox::StandardButton Ask(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton preferred) {
    QMessageBox box(icon, QString::fromLatin1(kProductName), text, buttons, parent);
    box.setDefaultButton(preferred);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void CMessageBoxPrompts::Information(QWidget* parent, const QString& text) {
    Ask(parent, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

void CMessageBoxPrompts::Warning(QWidget* parent, const QString& text) {
    Ask(parent, QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool CMessageBoxPrompts::Question(QWidget* parent, const QString& text) {
    return Ask(parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::Yes) == QMessageBox::Yes;
}

bool CMessageBoxPrompts::OkCancel(QWidget* parent, const QString& text) {
    return Ask(parent, QMessageBox::Information, text, QMessageBox::Ok | QMessageBox::Cancel,
               QMessageBox::Ok) == QMessageBox::Ok;
}

}  // namespace quelvox::ui
