#include "ui/Look.h"

#include "ui/Art.h"

#include <QApplication>
#include <QProxyStyle>
#include <QStyleFactory>

namespace quelvox::ui {

namespace {

class CLookStyle : public QProxyStyle {
public:
    CLookStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return 300;
        // Drop-down lists open below the box, not over it.
        if (hint == SH_ComboBox_Popup) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

}  // namespace

void ApplyLook(QApplication& app) {
    app.setStyle(new CLookStyle);
    app.setFont(UiFont(12));
    app.setWindowIcon(ApplicationIcon());
}

}  // namespace quelvox::ui
