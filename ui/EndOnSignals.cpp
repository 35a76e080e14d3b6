#include "ui/EndOnSignals.h"

#include "ui/MainWindow.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <iterator>

namespace quelvox::ui {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Write end of the pipe the handler announces a signal on. A handler can
// reach nothing else; one window per process installs it.
int g_signalPipe = -1;

extern "C" void OnEndSignal(int signal) {
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe holds an announcement already.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe, &byte, 1);
}

}  // namespace

CEndOnSignals::CEndOnSignals(CMainWindow& window, std::function<void()> ended)
    : window_(window), ended_(std::move(ended)) {
    if (g_signalPipe >= 0 || ::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_signalPipe = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, &window, [this] { OnSignal(); });
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &action, &former_[i]);
    installed_ = true;
}

CEndOnSignals::~CEndOnSignals() {
    if (!installed_) return;
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &former_[i], nullptr);
    delete notifier_;
    g_signalPipe = -1;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void CEndOnSignals::OnSignal() {
    unsigned char drained[16];
    while (::read(pipe_[0], drained, sizeof drained) > 0) {
    }
    // A question or dialog open now is answered No or cancelled, so that
    // what waits for it can unwind.
    for (int i = 0; i < 8; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == &window_) break;
        modal->close();
    }
    window_.close();
    // A busy window closes once the run in hand has unwound.
    auto* watch = new QTimer(&window_);
    QObject::connect(watch, &QTimer::timeout, &window_, [this, watch] {
        if (window_.isVisible()) return;
        watch->deleteLater();
        if (ended_) ended_();
    });
    watch->start(20);
}

}  // namespace quelvox::ui
