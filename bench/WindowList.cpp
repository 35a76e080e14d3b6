// quelvox-bench-list: the file list of the real window (offscreen) with many
// rows: adding every file of a folder (wall time and the window thread's
// longest stall), Ctrl+A and Delete over all rows, and sorting by each
// column. A stall is the longest gap between two ticks of a 5 ms timer on
// the window thread while the operation goes on. The process's resident
// memory is printed idle, with the rows listed and after they were removed.
//   quelvox-bench-list FOLDER [FOLDER...]   (each folder added, sorted and
//                                            removed on its own)
#include "bench/BenchWindow.h"
#include "ui/Commands.h"
#include "ui/FileList.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

using namespace quelvox;
using namespace quelvox::ui;
using quelvox::bench::Timing;

namespace {

// Runs `work` and then the events it left (the repaint of the list), with
// a 5 ms timer ticking on the window thread meanwhile.
Timing Measure(const std::function<void()>& work) {
    QElapsedTimer sinceTick, wall;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    // BENCH_GAPS=1 also prints every gap over 25 ms and when it ended.
    static const bool printGaps = qEnvironmentVariableIsSet("BENCH_GAPS");
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        if (printGaps && gap > 25)
            std::printf("    gap %lld ms ending at %lld ms\n", static_cast<long long>(gap),
                        static_cast<long long>(wall.elapsed()));
        longest = std::max(longest, gap);
    });
    ticker.start();
    sinceTick.start();
    wall.start();
    work();
    QCoreApplication::processEvents();
    const qint64 ms = wall.elapsed();
    longest = std::max(longest, sinceTick.elapsed());
    ticker.stop();
    return {static_cast<double>(ms) / 1000.0, longest};
}

// A key press and release sent to the list, as the keyboard would.
void Key(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::sendEvent(target, &release);
}

// The resident memory of the process in MB (VmRSS), 0 when unknown.
double ResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0.0;
}

void ReportMemory(const char* what) {
    // What the last operation left to draw is drawn first.
    QCoreApplication::processEvents();
    std::printf("  memory %-21s %8.1f MB\n", what, ResidentMegabytes());
    std::fflush(stdout);
}

void Report(const char* what, const Timing& t) {
    std::printf("  %-28s %8.3f s   longest window-thread stall %5lld ms\n", what, t.seconds,
                static_cast<long long>(t.longestStallMs));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: quelvox-bench-list FOLDER [FOLDER...]\n");
        return 2;
    }
    bench::CBenchWindow harness;
    CMainWindow& window = harness.Window();
    QCoreApplication::processEvents();
    ReportMemory("idle");

    for (int arg = 1; arg < argc; ++arg) {
        QStringList files;
        const QDir folder(QString::fromLocal8Bit(argv[arg]));
        for (const QString& name : folder.entryList(QDir::Files, QDir::Name))
            files << folder.absoluteFilePath(name);
        std::printf("%lld files (%s):\n", static_cast<long long>(files.size()), argv[arg]);
        Report("adding", Measure([&] { harness.AddAndWait(files); }));
        std::printf("  %d rows listed\n", window.List()->RowCount());
        ReportMemory("with the rows");
        static const char* const kColumns[] = {"file",   "duration", "bitrate", "sample rate",
                                               "channels", "volume", "output"};
        Timing sortWorst;
        const char* worstColumn = kColumns[0];
        for (int column = 0; column < kColumnCount; ++column) {
            for (int pass = 0; pass < 2; ++pass) {  // ascending, then descending
                const Timing t = Measure([&] { window.List()->SortByColumn(column); });
                if (t.longestStallMs >= sortWorst.longestStallMs) {
                    sortWorst = t;
                    worstColumn = kColumns[column];
                }
            }
        }
        char label[64];
        std::snprintf(label, sizeof label, "sort (worst: %s)", worstColumn);
        Report(label, sortWorst);
        window.List()->setFocus();
        Report("Ctrl+A", Measure([&] { Key(window.List(), Qt::Key_A, Qt::ControlModifier); }));
        // Delete is a window shortcut, which a key event sent straight to
        // the list never reaches: its action is triggered as the key does.
        Report("Delete", Measure([&] { window.MenuAction(kCmdRemove)->trigger(); }));
        std::printf("  %d rows left\n", window.List()->RowCount());
        window.RemoveAll();
        ReportMemory("after emptying");
    }
    return 0;
}
