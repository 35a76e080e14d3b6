// The help window: our HTML manual in a browser pane, titled "Quelvox Help".
// The manual is looked up beside the program (help/index.html), in the build
// tree, and in the installed data folder.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace quelvox::ui {

// Path of the manual's first page, or empty when none is found.
QString FindManual();

class CHelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

}  // namespace quelvox::ui
