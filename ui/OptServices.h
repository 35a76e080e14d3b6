// The services of the window that opens the options sheet: message boxes,
// the WMA formats, opening folders, and where and how OK saves.
#pragma once

#include <QString>

class QWidget;

#include <functional>

#include "encoders/WmaFormats.h"
#include "settings/Settings.h"

namespace quelvox::ui {

class IPrompts;

// What the sheet and its pages need from the window that opens them.
struct COptServices {
    IPrompts* prompts = nullptr;  // message boxes; required
    // The window's WMA format list (read only here). Null: the WMA page
    // shows only its automatic item.
    WmaFormatList* wmaFormats = nullptr;
    // The window's WMA runtime check: true when the runtime is available,
    // filling the format list the first time. Empty: the sheet builds the
    // list itself when it is empty.
    std::function<bool()> wmaRuntimeCheck;
    // Offers a missing WMA runtime to the user, over `over`. ShowOptions
    // calls it at most once per opening of the sheet, the first time the
    // check says the runtime is missing.
    std::function<void(QWidget* over)> offerWmaRuntime;
    // Opens an existing folder in the file manager. Empty: the desktop's
    // handler of local folders.
    std::function<void(const QString& folder)> openFolder;
    // Where OK saves the options.
    SettingsLocation location;
    // Told whether OK could save them. Empty: a failure goes unsaid.
    std::function<void(bool saved)> settingsSaved;
};

}  // namespace quelvox::ui
