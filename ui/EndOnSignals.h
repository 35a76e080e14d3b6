// Ending the window on a hang-up, a logout or Ctrl+C in the terminal that
// started it (SIGHUP, SIGTERM, SIGINT) as its close button ends it: a run
// in hand is cancelled and removes what it wrote, a question or dialog
// open then is answered No or cancelled, and once the window has closed
// the program is told to end.
#pragma once

#include <signal.h>

#include <functional>

class QSocketNotifier;

namespace quelvox::ui {

class CMainWindow;

class CEndOnSignals {
public:
    // `ended` runs on the window thread once the window has closed after a
    // signal (the program passes QApplication::quit).
    CEndOnSignals(CMainWindow& window, std::function<void()> ended);
    // Puts the signals' former handlers back.
    ~CEndOnSignals();
    CEndOnSignals(const CEndOnSignals&) = delete;
    CEndOnSignals& operator=(const CEndOnSignals&) = delete;

    // Whether the handlers are in place (a pipe could be made).
    bool Installed() const { return installed_; }

private:
    void OnSignal();

    CMainWindow& window_;
    std::function<void()> ended_;
    int pipe_[2] = {-1, -1};
    bool installed_ = false;
    struct sigaction former_[3] = {};
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quelvox::ui
