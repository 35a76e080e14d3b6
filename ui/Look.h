// The application-wide look of the window: the toolkit's Fusion style with
// tooltips after 300 ms and drop-down lists that open below their box, and
// our sans font with Chinese glyphs.
#pragma once

class QApplication;

namespace quelvox::ui {

void ApplyLook(QApplication& app);

}  // namespace quelvox::ui
