#include "ui/ProgressWindow.h"

#include "l10n/Translation.h"
#include "ui/Art.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include <algorithm>

namespace quelvox::ui {

namespace {

// Bars count in steps of this many parts.
constexpr int kBarSteps = 1000;

constexpr int kMargin = 11;

}  // namespace

CProgressWindow::CProgressWindow(QWidget* owner, Kind kind, std::function<bool()> alsoCancelled)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint),
      kind_(kind),
      alsoCancelled_(std::move(alsoCancelled)) {
    setWindowTitle(QStringLiteral("Quelvox"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    const bool converting = kind == Kind::Converting;
    // The converting window is the classic 418 by 94 dialog units; the
    // adding window is its smaller sibling.
    const int width = converting ? 627 : 460;
    const int height = converting ? 153 : 96;
    setFixedSize(width, height);
    setAutoFillBackground(true);
    QPalette look = palette();
    look.setColor(QPalette::Window, QColor(0xF4, 0xF6, 0xFA));
    setPalette(look);

    const int inner = width - 2 * kMargin;
    auto makeText = [&](int y) {
        auto* label = new QLabel(this);
        label->setFont(UiFont(12));
        label->setGeometry(kMargin, y, inner, 18);
        return label;
    };
    auto makeBar = [&](int y) {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, kBarSteps);
        bar->setValue(0);
        bar->setTextVisible(false);
        bar->setGeometry(kMargin, y, inner, 20);
        return bar;
    };
    fileText_ = makeText(kMargin);
    fileBar_ = makeBar(kMargin + 20);
    int buttonY = kMargin + 48;
    if (converting) {
        runText_ = makeText(kMargin + 52);
        runBar_ = makeBar(kMargin + 72);
        buttonY = kMargin + 104;
    }
    cancelButton_ = new QPushButton(tr("取消"), this);
    cancelButton_->setFont(UiFont(12));
    cancelButton_->setGeometry((width - 87) / 2, buttonY, 87, 26);
    // Enter never cancels: a habitual second Enter after the folder dialog
    // would otherwise stop the adding it had just started. Escape and a
    // click do.
    cancelButton_->setAutoDefault(false);
    cancelButton_->setDefault(false);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { Cancel(); });
}

void CProgressWindow::ShowCentred() {
    if (QWidget* owner = parentWidget())
        move(owner->mapToGlobal(owner->rect().center()) - rect().center());
    show();
    raise();
    activateWindow();
    cancelButton_->setFocus();
}

void CProgressWindow::Cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    emit CancelRequested();
}

void CProgressWindow::SetElided(QLabel* label, const QString& text) {
    // Long paths lose their middle, never the file name's end.
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideMiddle, label->width()));
    label->setToolTip(text);
}

// The engine's progress texts, in the window's language.
void CProgressWindow::SetFileText(const Text& text) {
    SetElided(fileText_, ShowText(text));
}

void CProgressWindow::SetFileProgress(uint64_t position, uint64_t total) {
    if (total == 0) total = 1;
    position = std::min(position, total);
    fileBar_->setValue(static_cast<int>(position * kBarSteps / total));
}

void CProgressWindow::SetRunText(const Text& text) {
    if (runText_) SetElided(runText_, ShowText(text));
}

void CProgressWindow::SetRunProgress(int done, int count) {
    if (!runBar_) return;
    runBar_->setRange(0, std::max(count, 1));
    runBar_->setValue(std::clamp(done, 0, std::max(count, 1)));
}

bool CProgressWindow::IsCancelled() const {
    return cancelled_ || (alsoCancelled_ && alsoCancelled_());
}

void CProgressWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // A frameless window needs its own edge.
    QPainter painter(this);
    painter.setPen(QColor(0x5A, 0x6E, 0x8C));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CProgressWindow::mousePressEvent(QMouseEvent* event) {
    // The body moves the window, as a title bar would.
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CProgressWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        Cancel();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CProgressWindow::closeEvent(QCloseEvent* event) {
    // Closing means Cancel; the operation closes the window when it has
    // unwound.
    Cancel();
    event->ignore();
}

}  // namespace quelvox::ui
