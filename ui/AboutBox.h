// The about box: the program's icon, name, version and web address.
#pragma once

#include <QDialog>

namespace quelvox::ui {

class CAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);
};

}  // namespace quelvox::ui
