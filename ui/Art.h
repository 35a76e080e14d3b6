// The window's own art, drawn in code: the background, the command-button
// images, the caption and menu icons, the application icon and the hand
// cursor. Everything is painted in logical pixels at any device pixel ratio,
// so each picture exists at 1x and 2x (and at any other scale a screen asks
// for) from the same drawing code.
#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QPixmap>

namespace quelvox::ui {

// Size of the main window and of the command-button images.
inline constexpr int kWindowWidth = 950;
inline constexpr int kWindowHeight = 650;
inline constexpr int kButtonImageWidth = 106;
inline constexpr int kButtonImageHeight = 26;

// The window background at the given device pixel ratio.
QPixmap BackgroundPicture(qreal dpr);

// A command button's image in its normal or hovered state.
QPixmap CommandButtonImage(bool hovered, qreal dpr);

enum class CaptionGlyph { Help, Minimise, Close };
// The icon of a caption button (16 by 16, light on the dark title band).
QIcon CaptionIcon(CaptionGlyph glyph);

// The 16 by 15 icon of a menu command (by its command number), or a null
// icon for commands that have none.
QIcon MenuIcon(int command);

// The application icon in the usual sizes from 16 to 256 pixels.
QIcon ApplicationIcon();

// Our pointing-hand cursor for buttons and the web link.
QCursor HandCursor();

// The sans font with Chinese glyphs used by the window, `pixelSize` high.
QFont UiFont(int pixelSize, bool bold = false, bool underline = false);

// Text colour of the command buttons.
inline QColor CommandTextColour() { return QColor(53, 53, 53); }

}  // namespace quelvox::ui
