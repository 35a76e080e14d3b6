#include "ui/AboutBox.h"

#include "common/Product.h"
#include "ui/Art.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelvox::ui {

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("关于 %1").arg(QString::fromLatin1(kProductName)));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* icon = new QLabel(this);
    icon->setPixmap(ApplicationIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);

    auto* name = new QLabel(QString::fromLatin1(kProductName), this);
    name->setObjectName(QStringLiteral("name"));
    name->setFont(UiFont(20, true));
    auto* version = new QLabel(tr("版本 %1").arg(QString::fromLatin1(kProductVersionText)), this);
    version->setObjectName(QStringLiteral("version"));
    auto* summary = new QLabel(
        tr("批量音频转换器: 把音频文件和视频文件的音轨\n转换为三十一种输出格式之一."), this);
    const QString web = QString::fromLatin1(kWebAddress);
    auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(web.toHtmlEscaped()), this);
    link->setOpenExternalLinks(true);
    for (QLabel* label : {version, summary, link}) label->setFont(UiFont(13));

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(version);
    text->addSpacing(8);
    text->addWidget(summary);
    text->addWidget(link);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("确定"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 14);
    layout->addLayout(top);
    layout->addSpacing(10);
    layout->addWidget(buttons);
    setFixedSize(sizeHint());
}

}  // namespace quelvox::ui
