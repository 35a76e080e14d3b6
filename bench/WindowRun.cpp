// quelvox-bench-window: converts the same files from the real window with
// one and with two workers (offscreen) and reports the wall times, the
// speed-up, and the window thread's longest stall during each run: the
// longest gap between two ticks of a 5 ms timer on the window thread.
// Then the window with two workers against `quelvox-cli -j 2` on the same
// files, in alternating rounds (the first of the pair changing each round):
// the median of the rounds' time ratios.
//   quelvox-bench-window FOLDER [RUNS]     (every file of FOLDER, to MP3)
#include "bench/BenchWindow.h"
#include "common/FormatCatalogue.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace quelvox;
using namespace quelvox::ui;
using quelvox::bench::Timing;

namespace {

Timing ConvertAllOnce(CMainWindow& window) {
    QElapsedTimer sinceTick, wall;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longest = std::max(longest, sinceTick.restart()); });
    ticker.start();
    sinceTick.start();
    wall.start();
    // The run goes on on worker threads; the window thread keeps ticking
    // until the window has shown its outcome.
    QEventLoop done;
    QObject::connect(&window, &CMainWindow::ConversionFinished, &done, &QEventLoop::quit);
    window.ConvertAll();
    if (window.IsConverting()) done.exec();
    const qint64 ms = wall.elapsed();
    longest = std::max(longest, sinceTick.elapsed());
    ticker.stop();
    return {static_cast<double>(ms) / 1000.0, longest};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: quelvox-bench-window FOLDER [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    bench::CBenchWindow harness;
    CMainWindow& window = harness.Window();

    QStringList files;
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    for (const QString& name : folder.entryList(QDir::Files, QDir::Name))
        files << folder.absoluteFilePath(name);
    harness.AddAndWait(files);
    window.FormatBox()->setCurrentIndex(window.FormatBox()->findData(kFormatMp3));
    CSettings& s = window.Settings();
    s.DestOutputFolderOpt = quelvox::kOutputToSpecifiedFolder;
    s.DestSpecifiedFolder = (harness.ScratchPath() + QStringLiteral("/out")).toStdString();
    QDir().mkpath(QString::fromStdString(s.DestSpecifiedFolder));
    s.TargetExistsOpt = quelvox::kTargetOverwrite;  // each run replaces the last one's files
    s.BrowseOutputFolder = 0;

    std::printf("%lld files, %d runs each (median), window thread ticked every 5 ms\n",
                static_cast<long long>(files.size()), runs);
    double median[3] = {};
    for (int workers : {1, 2}) {
        s.SimultaneousFiles = workers;
        std::vector<double> times;
        qint64 stall = 0;
        for (int r = 0; r < runs; ++r) {
            const Timing t = ConvertAllOnce(window);
            times.push_back(t.seconds);
            stall = std::max(stall, t.longestStallMs);
        }
        std::sort(times.begin(), times.end());
        median[workers] = times[times.size() / 2];
        std::printf("%d worker%s: %.2f s, longest window-thread stall %lld ms\n", workers,
                    workers == 1 ? " " : "s", median[workers], static_cast<long long>(stall));
    }
    std::printf("speed-up with 2 workers: %.2fx\n", median[1] / std::max(median[2], 1e-9));

    // The window against the command line, two workers each, same files,
    // same output folder, replacing the last round's files.
    s.SimultaneousFiles = 2;
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/quelvox-cli");
    QStringList arguments{QStringLiteral("-q"), QStringLiteral("-j"), QStringLiteral("2"),
                          QStringLiteral("-f"), QStringLiteral("mp3"),
                          QStringLiteral("--set"), QStringLiteral("TargetExistsOpt=22"),
                          QStringLiteral("-o"), QString::fromStdString(s.DestSpecifiedFolder)};
    arguments << files;
    auto runCli = [&] {
        QElapsedTimer wall;
        wall.start();
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(cli, arguments);
        process.waitForFinished(-1);
        return static_cast<double>(wall.elapsed()) / 1000.0;
    };
    runCli();  // warm-up
    std::vector<double> ratios, windowTimes, cliTimes;
    for (int r = 0; r < runs; ++r) {
        double w = 0, c = 0;
        if (r % 2 == 0) {
            w = ConvertAllOnce(window).seconds;
            c = runCli();
        } else {
            c = runCli();
            w = ConvertAllOnce(window).seconds;
        }
        windowTimes.push_back(w);
        cliTimes.push_back(c);
        ratios.push_back(w / std::max(c, 1e-9));
    }
    auto middle = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("window (2 workers) %.2f s, quelvox-cli -j 2 %.2f s, ratio %.3f (median of %d "
                "alternating rounds)\n",
                middle(windowTimes), middle(cliTimes), middle(ratios), runs);
    return 0;
}
