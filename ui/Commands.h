// The commands of the main window, numbered as the window's buttons, menu
// items and shortcuts have always been numbered.
#pragma once

namespace quelvox::ui {

enum Command : int {
    kCmdAddFiles = 32773,
    kCmdAddFolder = 1024,
    kCmdRemoveAll = 1005,
    kCmdRemove = 32772,
    kCmdConvertSelected = 32786,
    kCmdConvertAll = 32787,
    kCmdConvertSelectedToOne = 32789,
    kCmdConvertAllToOne = 32788,
    kCmdPlaySource = 32775,
    kCmdPlayOutput = 32781,
    kCmdShowSource = 32777,
    kCmdShowOutput = 32780,
    kCmdSelectAll = 1156,
    kCmdOptions = 1014,
    kCmdHelpMenu = 1060,
    kCmdMinimise = 1030,
    kCmdClose = 1000,
    kCmdHelp = 57670,
    kCmdTellFriend = 32782,
    kCmdSupport = 32783,
    kCmdHomePage = 32784,
    kCmdCheckUpdates = 32785,
    kCmdAbout = 1017,
};

}  // namespace quelvox::ui
