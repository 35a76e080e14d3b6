#include "ui/SkinButton.h"

#include "ui/Art.h"

#include <QEnterEvent>
#include <QPainter>
#include <QStyle>

namespace quelvox::ui {

CSkinButton::CSkinButton(QWidget* parent)
    : QAbstractButton(parent), textColour_(CommandTextColour()) {
    setCursor(HandCursor());
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
}

void CSkinButton::SetImages(const QPixmap& normal, const QPixmap& hover, bool resize) {
    normal_ = normal;
    hover_ = hover;
    if (resize && !normal.isNull()) {
        const QSize image = normal.deviceIndependentSize().toSize();
        const int extra = (pressOffset_ ? 1 : 0) + (border_ ? 2 : 0);
        this->resize(image + QSize(extra, extra));
    }
    update();
}

void CSkinButton::SetGlyph(const QIcon& icon) {
    glyph_ = icon;
    update();
}

void CSkinButton::SetTextColours(const QColor& normal, const QColor& hover) {
    textColour_ = normal;
    hoverColour_ = hover;
    update();
}

void CSkinButton::SetDrawText(bool on) {
    drawText_ = on;
    update();
}

void CSkinButton::SetBorder(bool on) {
    border_ = on;
    update();
}

void CSkinButton::SetPressOffset(bool on) {
    pressOffset_ = on;
    update();
}

void CSkinButton::SetFocusFrame(bool on) {
    focusFrame_ = on;
    update();
}

QSize CSkinButton::sizeHint() const {
    if (!normal_.isNull()) return normal_.deviceIndependentSize().toSize() + QSize(1, 1);
    return QSize(21, 21);
}

void CSkinButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CSkinButton::focusInEvent(QFocusEvent* event) {
    QAbstractButton::focusInEvent(event);
    update();
}

void CSkinButton::focusOutEvent(QFocusEvent* event) {
    QAbstractButton::focusOutEvent(event);
    update();
}

void CSkinButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool pressed = isDown();
    const bool enabled = isEnabled();
    const bool lit = hovered_ && enabled;
    QRect content = rect();

    if (border_) {
        // Flat frame: light top-left and dark bottom-right when raised,
        // the other way round when sunken.
        if (enabled && (pressed || lit)) {
            const QColor light(255, 255, 255, 170);
            const QColor dark(0, 0, 0, 110);
            const QColor& topLeft = pressed ? dark : light;
            const QColor& bottomRight = pressed ? light : dark;
            const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(topLeft);
            p.drawLine(r.topLeft(), r.topRight());
            p.drawLine(r.topLeft(), r.bottomLeft());
            p.setPen(bottomRight);
            p.drawLine(r.bottomLeft(), r.bottomRight());
            p.drawLine(r.topRight(), r.bottomRight());
            p.setRenderHint(QPainter::Antialiasing);
        }
        content.adjust(1, 1, -1, -1);
    }
    if (pressed && pressOffset_) content.translate(1, 1);

    if (!glyph_.isNull()) {
        const QSize size(16, 16);
        const QRect where(content.center() - QPoint(size.width() / 2 - 1, size.height() / 2 - 1),
                          size);
        glyph_.paint(&p, where, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
    } else if (!normal_.isNull()) {
        const QPixmap& image = ((lit || pressed) && enabled && !hover_.isNull()) ? hover_ : normal_;
        if (!enabled) p.setOpacity(0.55);
        p.drawPixmap(content.topLeft(), image);
        p.setOpacity(1.0);
    }

    if (drawText_ && !text().isEmpty()) {
        QColor colour = textColour_;
        if (lit && hoverColour_.isValid()) colour = hoverColour_;
        if (!enabled) colour = QColor(140, 140, 140);
        p.setFont(font());
        p.setPen(colour);
        // The caption centred over the image area, with its mnemonic
        // underlined as the toolkit's own buttons do.
        QRect textArea = content;
        if (!normal_.isNull())
            textArea = QRect(content.topLeft(), normal_.deviceIndependentSize().toSize());
        style()->drawItemText(&p, textArea, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), true,
                              text());
    }

    if (focusFrame_ && hasFocus()) {
        // The classic dotted focus frame, 3 pixels inside the image's edge,
        // in the caption's colour so that it reads on the skin; a button
        // without an image (the web link) has it around its caption.
        const bool image = !normal_.isNull();
        const QRect area =
            image ? QRect(content.topLeft(), normal_.deviceIndependentSize().toSize()) : content;
        const int inset = image ? 3 : 0;
        QPen pen(enabled ? textColour_ : QColor(140, 140, 140));
        pen.setStyle(Qt::DotLine);
        pen.setWidth(1);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(area.adjusted(inset, inset, -1 - inset, -1 - inset));
    }
}

}  // namespace quelvox::ui
