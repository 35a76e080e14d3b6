#include "ui/OptSheet.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFont>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "ui/OptPageAmr.h"
#include "ui/OptPageAwb.h"
#include "ui/OptPageGeneral.h"
#include "ui/OptPageOutput.h"
#include "ui/OptPageAudio.h"
#include "ui/OptPageId3.h"
#include "ui/OptPageWma.h"

namespace quelvox::ui {

COptSheet::COptSheet(CSettings& settings, std::vector<OutputFormatEntry>& catalogue,
                     COptServices& services, QWidget* parent)
    : QDialog(parent), settings_(settings), catalogue_(catalogue), services_(services) {
    setWindowTitle(tr("选项"));
    setObjectName("optSheet");
    // One sans font with Chinese glyphs for every control of the sheet.
    QFont sheetFont = font();
    sheetFont.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans"),
                           QStringLiteral("sans-serif")});
    sheetFont.setPixelSize(12);
    setFont(sheetFont);

    pages_.push_back(new COptPageGeneral(settings, services));
    pages_.push_back(new COptPageOutput(settings, services));
    pages_.push_back(new COptPageId3(settings, services));
    for (size_t i = 0; i < catalogue.size(); ++i) {
        switch (catalogue[i].code) {
            case kFormatAmr: pages_.push_back(new COptPageAmr(settings, services)); break;
            case kFormatAwb: pages_.push_back(new COptPageAwb(settings, services)); break;
            case kFormatWma: pages_.push_back(new COptPageWma(settings, services)); break;
            case kFormatWmv:
            case kFormatAsf: break;  // set on the WMA page
            default: pages_.push_back(new COptPageAudio(catalogue, i, services)); break;
        }
    }

    list_ = new QListWidget(this);
    list_->setObjectName("pageList");
    stack_ = new QStackedWidget(this);
    for (COptPage* page : pages_) {
        list_->addItem(page->Caption());
        stack_->addWidget(page);
    }
    // Every caption visible at once, without scrolling either way.
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setFixedWidth(list_->sizeHintForColumn(0) + 2 * list_->frameWidth() + 16);
    list_->setMinimumHeight(list_->sizeHintForRow(0) * list_->count() + 2 * list_->frameWidth() +
                            4);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    cancel_ = buttons->button(QDialogButtonBox::Cancel);
    ok_->setText(tr("确定"));
    cancel_->setText(tr("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &COptSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptSheet::reject);

    auto* body = new QHBoxLayout;
    body->addWidget(list_);
    body->addWidget(stack_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(buttons);

    // A stored index is used only when it names a page.
    const int start = settings.OptStartPageIndex;
    current_ = start >= 0 && start < PageCount() ? start : 0;
    ShowPage(current_);
    // One size for every page, the largest page's: the pages are built
    // (not shown) so that the stack knows their sizes, and the sheet keeps
    // the size they need.
    for (COptPage* page : pages_)
        if (page->BuildsQuietly()) page->EnsureBuilt();
    layout->activate();
    setFixedSize(sizeHint().expandedTo(minimumSizeHint()));
    {
        const QSignalBlocker block(list_);
        list_->setCurrentRow(current_);
    }
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0 || row == current_) return;
        if (!ChoosePage(row)) {
            const QSignalBlocker block(list_);
            list_->setCurrentRow(current_);
        }
    });
}

void COptSheet::ShowPage(int index) {
    current_ = index;
    pages_[static_cast<size_t>(index)]->EnsureBuilt();
    pages_[static_cast<size_t>(index)]->MarkShown();
    stack_->setCurrentIndex(index);
}

bool COptSheet::ChoosePage(int index) {
    if (index < 0 || index >= PageCount()) return false;
    if (index == current_) return true;
    if (!pages_[static_cast<size_t>(current_)]->OnLeave()) return false;
    ShowPage(index);
    if (list_->currentRow() != index) {
        const QSignalBlocker block(list_);
        list_->setCurrentRow(index);
    }
    return true;
}

void COptSheet::accept() {
    if (!pages_[static_cast<size_t>(current_)]->OnLeave()) return;
    for (COptPage* page : pages_) {
        if (page->IsShown()) page->OnApply();
    }
    for (COptPage* page : pages_) page->StoreTo(settings_, catalogue_);
    RebuildFilterList(settings_);
    const bool saved = SaveSettings(settings_, catalogue_, kSaveOptions, services_.location);
    if (services_.settingsSaved) services_.settingsSaved(saved);
    QDialog::accept();
}

void COptSheet::done(int result) {
    settings_.OptStartPageIndex = current_;
    QDialog::done(result);
}

bool ShowOptions(CSettings& settings, std::vector<OutputFormatEntry>& catalogue,
                 COptServices& services, QWidget* parent) {
    // The runtime is offered at most once per opening of the sheet.
    COptServices opened = services;
    if (services.wmaRuntimeCheck && services.offerWmaRuntime) {
        opened.wmaRuntimeCheck = [check = services.wmaRuntimeCheck,
                                  offer = services.offerWmaRuntime, parent,
                                  asked = false]() mutable {
            if (check()) return true;
            if (!asked) {
                asked = true;
                QWidget* over = QApplication::activeModalWidget();
                offer(over ? over : parent);
            }
            return false;
        };
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    COptSheet sheet(settings, catalogue, opened, parent);
    QApplication::restoreOverrideCursor();
    return sheet.exec() == QDialog::Accepted;
}

}  // namespace quelvox::ui
