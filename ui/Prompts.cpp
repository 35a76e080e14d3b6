#include "ui/Prompts.h"

#include <QMessageBox>

#include "common/Product.h"

namespace quelvox::ui {

namespace {

QString Caption() { return QString::fromUtf8(kProductName); }

}  // namespace

void CMessageBoxPrompts::Information(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, Caption(), text);
}

void CMessageBoxPrompts::Warning(QWidget* parent, const QString& text) {
    QMessageBox::warning(parent, Caption(), text);
}

bool CMessageBoxPrompts::Question(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, Caption(), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

}  // namespace quelvox::ui
