#include "ui/Art.h"

#include "common/Product.h"
#include "ui/Commands.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <functional>

namespace quelvox::ui {

namespace {

using Drawing = std::function<void(QPainter&)>;

// A transparent pixmap of `width` by `height` logical pixels at `dpr`,
// painted by `draw` in logical coordinates.
QPixmap Paint(int width, int height, qreal dpr, const Drawing& draw) {
    QPixmap pixmap(static_cast<int>(std::ceil(width * dpr)),
                   static_cast<int>(std::ceil(height * dpr)));
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    draw(painter);
    return pixmap;
}

// An icon holding the drawing at 1x and 2x.
QIcon TwoScales(int width, int height, const Drawing& draw) {
    QIcon icon;
    icon.addPixmap(Paint(width, height, 1.0, draw));
    icon.addPixmap(Paint(width, height, 2.0, draw));
    return icon;
}

const QColor kTitleDark(24, 62, 99);
const QColor kTitleLight(44, 104, 158);
const QColor kAccent(242, 153, 36);

// A few bars of a level meter, the motif of the icon and the title band.
void DrawLevelBars(QPainter& p, const QRectF& area, const QColor& colour) {
    static constexpr double kLevels[] = {0.35, 0.7, 1.0, 0.55, 0.85, 0.45};
    const int count = static_cast<int>(std::size(kLevels));
    const double step = area.width() / count;
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    for (int i = 0; i < count; ++i) {
        const double h = area.height() * kLevels[i];
        p.drawRoundedRect(
            QRectF(area.left() + i * step + step * 0.15, area.center().y() - h / 2, step * 0.7, h),
            step * 0.3, step * 0.3);
    }
}

void DrawAppIcon(QPainter& p, double size) {
    const QRectF box(size * 0.04, size * 0.04, size * 0.92, size * 0.92);
    QLinearGradient fill(box.topLeft(), box.bottomLeft());
    fill.setColorAt(0, kTitleLight);
    fill.setColorAt(1, kTitleDark);
    p.setPen(QPen(QColor(12, 36, 60), std::max(1.0, size / 48)));
    p.setBrush(fill);
    p.drawRoundedRect(box, size * 0.2, size * 0.2);
    DrawLevelBars(p, QRectF(size * 0.16, size * 0.2, size * 0.5, size * 0.6), Qt::white);
    // The arrow of conversion.
    QPainterPath arrow;
    arrow.moveTo(size * 0.68, size * 0.34);
    arrow.lineTo(size * 0.88, size * 0.5);
    arrow.lineTo(size * 0.68, size * 0.66);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawPath(arrow);
}

// A sheet of paper with a folded corner, the base of the file icons.
void DrawSheet(QPainter& p) {
    QPainterPath sheet;
    sheet.moveTo(2.5, 0.5);
    sheet.lineTo(8.5, 0.5);
    sheet.lineTo(11.5, 3.5);
    sheet.lineTo(11.5, 13.5);
    sheet.lineTo(2.5, 13.5);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(90, 100, 115), 1));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    p.drawLine(QPointF(8.5, 0.5), QPointF(8.5, 3.5));
    p.drawLine(QPointF(8.5, 3.5), QPointF(11.5, 3.5));
}

void DrawPlay(QPainter& p, const QColor& colour, bool withBar) {
    QPainterPath triangle;
    triangle.moveTo(3, 1.5);
    triangle.lineTo(13.5, 7.5);
    triangle.lineTo(3, 13.5);
    triangle.closeSubpath();
    p.setPen(QPen(colour.darker(140), 1));
    p.setBrush(colour);
    p.drawPath(triangle);
    if (withBar) {
        p.setPen(Qt::NoPen);
        p.setBrush(colour.darker(140));
        p.drawRect(QRectF(13.5, 2, 2, 11));
    }
}

void DrawEnvelope(QPainter& p, const QColor& flap) {
    const QRectF body(0.5, 3.5, 15, 10);
    p.setPen(QPen(QColor(90, 100, 115), 1));
    p.setBrush(QColor(255, 250, 235));
    p.drawRect(body);
    p.setBrush(flap);
    QPainterPath v;
    v.moveTo(body.topLeft());
    v.lineTo(body.center().x(), body.top() + 6);
    v.lineTo(body.topRight());
    v.closeSubpath();
    p.drawPath(v);
}

void DrawRoundGlyph(QPainter& p, const QColor& colour, const QString& glyph) {
    p.setPen(QPen(colour.darker(150), 1));
    p.setBrush(colour);
    p.drawEllipse(QRectF(1, 0.5, 14, 14));
    p.setPen(Qt::white);
    p.setFont(UiFont(11, true));
    p.drawText(QRectF(1, 0.5, 14, 14), Qt::AlignCenter, glyph);
}

void DrawMenuIcon(QPainter& p, int command) {
    switch (command) {
        case kCmdAddFiles:
            DrawSheet(p);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(40, 150, 60));
            p.drawRect(QRectF(8, 9.5, 8, 2.5));
            p.drawRect(QRectF(10.75, 6.75, 2.5, 8));
            break;
        case kCmdRemove:
            DrawSheet(p);
            p.setPen(QPen(QColor(200, 40, 40), 2.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(8.5, 7.5), QPointF(14.5, 13.5));
            p.drawLine(QPointF(14.5, 7.5), QPointF(8.5, 13.5));
            break;
        case kCmdPlaySource: DrawPlay(p, QColor(60, 170, 80), false); break;
        case kCmdPlayOutput: DrawPlay(p, QColor(60, 120, 200), true); break;
        case kCmdHelp: DrawRoundGlyph(p, QColor(50, 110, 190), QStringLiteral("?")); break;
        case kCmdHomePage: {
            QPainterPath house;
            house.moveTo(8, 1);
            house.lineTo(15, 7.5);
            house.lineTo(13, 7.5);
            house.lineTo(13, 14);
            house.lineTo(3, 14);
            house.lineTo(3, 7.5);
            house.lineTo(1, 7.5);
            house.closeSubpath();
            p.setPen(QPen(QColor(120, 60, 30), 1));
            p.setBrush(QColor(230, 120, 60));
            p.drawPath(house);
            p.setBrush(QColor(255, 240, 200));
            p.drawRect(QRectF(6.5, 9.5, 3, 4.5));
            break;
        }
        case kCmdTellFriend:
            DrawEnvelope(p, QColor(255, 220, 120));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(230, 70, 90));
            p.drawEllipse(QRectF(10, 0, 6, 6));
            break;
        case kCmdSupport: DrawEnvelope(p, QColor(170, 200, 240)); break;
        case kCmdCheckUpdates: {
            p.setPen(QPen(QColor(40, 140, 70), 2.2, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(2, 1.5, 12, 12), 60 * 16, 280 * 16);
            QPainterPath head;
            head.moveTo(9.5, 0);
            head.lineTo(14.5, 2.5);
            head.lineTo(10, 5.5);
            head.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(40, 140, 70));
            p.drawPath(head);
            break;
        }
        case kCmdAbout: DrawRoundGlyph(p, QColor(40, 150, 170), QStringLiteral("i")); break;
        default: break;
    }
}

void DrawCaptionGlyph(QPainter& p, CaptionGlyph glyph) {
    p.setPen(QPen(QColor(235, 242, 250), 1.8, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
        case CaptionGlyph::Help: {
            QPainterPath hook;
            hook.moveTo(5, 5.5);
            hook.cubicTo(5, 2, 11, 2, 11, 5.5);
            hook.cubicTo(11, 8, 8, 8, 8, 10.5);
            p.drawPath(hook);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(235, 242, 250));
            p.drawEllipse(QRectF(7, 12, 2, 2));
            break;
        }
        case CaptionGlyph::Minimise: p.drawLine(QPointF(4, 12), QPointF(12, 12)); break;
        case CaptionGlyph::Close:
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
            break;
    }
}

void DrawHand(QPainter& p) {
    // A pointing hand, index finger up; the hot spot is its tip (11, 1).
    QPainterPath hand;
    hand.moveTo(9, 3);
    hand.cubicTo(9, 0.5, 13, 0.5, 13, 3);
    hand.lineTo(13, 11);
    hand.cubicTo(13, 9, 17, 9, 17, 11.5);
    hand.cubicTo(17, 9.5, 21, 9.5, 21, 12);
    hand.cubicTo(21, 10.5, 25, 10.5, 25, 13);
    hand.lineTo(25, 20);
    hand.cubicTo(25, 25, 22, 29, 17, 29);
    hand.lineTo(14, 29);
    hand.cubicTo(11, 29, 9.5, 27, 8, 25);
    hand.lineTo(3.5, 18.5);
    hand.cubicTo(2, 16.5, 4.5, 14, 6.5, 15.5);
    hand.lineTo(9, 18);
    hand.closeSubpath();
    p.setPen(QPen(Qt::black, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPath(hand);
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(QPointF(13, 11), QPointF(13, 16));
    p.drawLine(QPointF(17, 11.5), QPointF(17, 16));
    p.drawLine(QPointF(21, 12), QPointF(21, 16));
}

}  // namespace

QFont UiFont(int pixelSize, bool bold, bool underline) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans SC"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

QPixmap BackgroundPicture(qreal dpr) {
    return Paint(kWindowWidth, kWindowHeight, dpr, [](QPainter& p) {
        const QRectF all(0, 0, kWindowWidth, kWindowHeight);
        QLinearGradient body(all.topLeft(), all.bottomLeft());
        body.setColorAt(0, QColor(236, 241, 247));
        body.setColorAt(1, QColor(212, 222, 234));
        p.fillRect(all, body);

        // The title band with the name and the level-meter motif.
        const QRectF band(0, 0, kWindowWidth, 52);
        QLinearGradient title(band.topLeft(), band.bottomLeft());
        title.setColorAt(0, kTitleLight);
        title.setColorAt(1, kTitleDark);
        p.fillRect(band, title);
        p.fillRect(QRectF(0, 52, kWindowWidth, 3), kAccent);
        p.save();
        p.translate(12, 8);
        DrawAppIcon(p, 36);
        p.restore();
        p.setPen(Qt::white);
        p.setFont(UiFont(24, true));
        p.drawText(QRectF(58, 6, 300, 40), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromLatin1(kProductName));
        p.setPen(QColor(190, 214, 238));
        p.setFont(UiFont(12));
        p.drawText(QRectF(172, 6, 200, 40), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromLatin1(kProductVersion));
        QColor faint(255, 255, 255, 28);
        DrawLevelBars(p, QRectF(560, 6, 140, 40), faint);
        DrawLevelBars(p, QRectF(700, 12, 100, 28), faint);

        // The command column on the left.
        const QRectF column(4, 62, 127, 580);
        QLinearGradient side(column.topLeft(), column.topRight());
        side.setColorAt(0, QColor(222, 230, 240));
        side.setColorAt(1, QColor(204, 215, 229));
        p.setPen(QPen(QColor(168, 184, 204), 1));
        p.setBrush(side);
        p.drawRoundedRect(column.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        // A divider above the web link.
        p.setPen(QColor(168, 184, 204));
        p.drawLine(QPointF(14, 606.5), QPointF(121, 606.5));

        // The frame around the file list.
        p.setPen(QPen(QColor(132, 152, 178), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(136.5, 62.5, 804, 576));
    });
}

QPixmap CommandButtonImage(bool hovered, qreal dpr) {
    return Paint(kButtonImageWidth, kButtonImageHeight, dpr, [hovered](QPainter& p) {
        const QRectF box(0.5, 0.5, kButtonImageWidth - 1, kButtonImageHeight - 1);
        QLinearGradient fill(box.topLeft(), box.bottomLeft());
        if (hovered) {
            fill.setColorAt(0, QColor(255, 250, 236));
            fill.setColorAt(1, QColor(255, 214, 140));
            p.setPen(QPen(QColor(214, 140, 30), 1));
        } else {
            fill.setColorAt(0, QColor(255, 255, 255));
            fill.setColorAt(1, QColor(214, 224, 237));
            p.setPen(QPen(QColor(124, 144, 170), 1));
        }
        p.setBrush(fill);
        p.drawRoundedRect(box, 4, 4);
        // A highlight along the top edge.
        p.setPen(QPen(QColor(255, 255, 255, 200), 1));
        p.drawLine(QPointF(4, 1.5), QPointF(kButtonImageWidth - 4, 1.5));
    });
}

QIcon CaptionIcon(CaptionGlyph glyph) {
    return TwoScales(16, 16, [glyph](QPainter& p) { DrawCaptionGlyph(p, glyph); });
}

QIcon MenuIcon(int command) {
    switch (command) {
        case kCmdAddFiles:
        case kCmdRemove:
        case kCmdPlaySource:
        case kCmdPlayOutput:
        case kCmdHelp:
        case kCmdHomePage:
        case kCmdTellFriend:
        case kCmdSupport:
        case kCmdCheckUpdates:
        case kCmdAbout:
            return TwoScales(16, 15, [command](QPainter& p) { DrawMenuIcon(p, command); });
        default: return {};
    }
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Paint(size, size, 1.0, [size](QPainter& p) { DrawAppIcon(p, size); }));
    return icon;
}

QCursor HandCursor() { return QCursor(Paint(32, 32, 1.0, DrawHand), 11, 1); }

}  // namespace quelvox::ui
