// The help window: our HTML manual in a browser pane, titled "Quelvox Help".
// The manual is looked up beside the program (help/index.html, or
// index.en.html in English), in the build tree, and in the installed data
// folder.
#pragma once

#include <QRect>
#include <QString>
#include <QWidget>

class QTextBrowser;

namespace quelvox::ui {

// The file name of the manual's first page in the language of the
// window's texts: "index.html" (Chinese) or, for English, "index.en.html".
QString ManualPageName();

// Path of the manual's first page in that language (the Chinese one where
// the page is missing), or empty when none is found.
QString FindManual();

// Where a window of `size` goes to stand centred over `owner` (frame
// rectangles), moved as little as needed to stay within `area`, the
// available part of the owner's screen.
QPoint CentredPlacement(const QRect& owner, const QSize& size, const QRect& area);

class CHelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

}  // namespace quelvox::ui
