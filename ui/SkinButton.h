// A push button that draws itself: an image pair (normal and hovered) or
// an icon, an optional caption, an optional flat frame, the one-pixel press
// offset and a cursor of its own. The window's command buttons, its three
// caption buttons and its web link are all of this kind; the window's
// background shows through wherever the button paints nothing.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace quelvox::ui {

class CSkinButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CSkinButton(QWidget* parent = nullptr);

    // Images drawn at the top-left of the content area; the hover image is
    // optional. With `resize`, the button takes the image's size plus one
    // pixel for the press offset and two for the frame.
    void SetImages(const QPixmap& normal, const QPixmap& hover, bool resize);
    // An icon centred in the content area, greyed when disabled. Icons take
    // precedence over images.
    void SetGlyph(const QIcon& icon);
    // Caption colours; an invalid hover colour means the normal colour.
    void SetTextColours(const QColor& normal, const QColor& hover = QColor());
    void SetDrawText(bool on);
    // A flat frame: raised while hovered, sunken while pressed, else none.
    void SetBorder(bool on);
    void SetPressOffset(bool on);
    // A dotted frame in the caption's colour while the button has the
    // keyboard focus: 3 pixels inside an image, around a caption alone.
    void SetFocusFrame(bool on);
    bool HasFocusFrame() const { return focusFrame_; }

    bool IsHovered() const { return hovered_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QPixmap normal_;
    QPixmap hover_;
    QIcon glyph_;
    QColor textColour_;
    QColor hoverColour_;
    bool drawText_ = true;
    bool border_ = false;
    bool pressOffset_ = true;
    bool focusFrame_ = false;
    bool hovered_ = false;
};

}  // namespace quelvox::ui
