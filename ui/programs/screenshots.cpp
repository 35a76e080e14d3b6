// quelvox-screenshots: renders the window and its menus, its focus frames,
// its title during a run (as a task bar shows it), the progress
// windows of adding and converting, the closing message of an add, the
// help window and the about box into PNG files, so the window can be looked at on a machine
// without a display (run it with QT_QPA_PLATFORM=offscreen). The samples
// are the engine's own (Chinese) texts; --lang en shows them, and every
// window, in English.
//   quelvox-screenshots [--lang zh|en] [FOLDER]     (default: Chinese, screenshots)
#include "common/FileEntry.h"
#include "common/FormatCatalogue.h"
#include "common/Product.h"
#include "engine/AddFiles.h"
#include "engine/ConversionRun.h"
#include "engine/ReaderFactory.h"
#include "engine/CodecRuntime.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"
#include "settings/Settings.h"
#include "ui/AboutBox.h"
#include "ui/Commands.h"
#include "ui/FileList.h"
#include "ui/HelpWindow.h"
#include "ui/LanguageOption.h"
#include "ui/Look.h"
#include "ui/MainWindow.h"
#include "ui/ProgressWindow.h"
#include "ui/SkinButton.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>
#include <QEnterEvent>

#include <fstream>

#include <cstdio>

using namespace quelvox;
using namespace quelvox::ui;

namespace {

QString g_folder;

void Save(const QPixmap& picture, const QString& name) {
    const QString path = g_folder + u'/' + name;
    if (picture.save(path))
        std::printf("%s\n", qPrintable(path));
    else
        std::fprintf(stderr, "quelvox-screenshots: cannot write %s\n", qPrintable(path));
}

void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// The window with a popup (menu or list) drawn where it opened.
QPixmap WithPopup(QWidget& window, QWidget& popup) {
    Settle();
    QPixmap picture = window.grab();
    QPainter painter(&picture);
    painter.drawPixmap(popup.mapToGlobal(QPoint(0, 0)) - window.mapToGlobal(QPoint(0, 0)),
                       popup.grab());
    return picture;
}

void AddSampleRows(CMainWindow& window) {
    struct Sample {
        const char* name;
        int seconds, kbps, hz, channels;
    };
    const Sample samples[] = {
        {"/home/user/音乐/01 - 晨曦.flac", 245, 912, 44100, 2},
        {"/home/user/音乐/02 - Night Drive.mp3", 3725, 320, 44100, 2},
        {"/home/user/音乐/03 - 海边.wav", 187, 1411, 44100, 2},
        {"/home/user/音乐/concert-5.1.ac3", 5420, 448, 48000, 6},
        {"/home/user/音乐/voice-memo.amr", 62, 12, 8000, 1},
        {"/home/user/视频/trailer.mp4", 151, 128, 48000, 2},
        // Two files of one name: each shows its folder after the name.
        {"/home/user/音乐/CD1/01 - 序曲.flac", 204, 870, 44100, 2},
        {"/home/user/音乐/CD2/01 - 序曲.flac", 198, 864, 44100, 2},
    };
    for (const Sample& s : samples) {
        FileEntry entry;
        entry.Path = s.name;
        entry.Duration = s.seconds;
        entry.Bitrate = s.kbps;
        entry.SampleRate = s.hz;
        entry.Channels = s.channels;
        auto [it, added] = window.PathMap().emplace(PathMapKey(entry.Path), entry);
        if (added) window.AppendRow(it->second);
    }
    window.SetVolumeCell(1, "100.00%");
    window.SetOutputCell(1, Text("01 - 晨曦.mp3"));
    window.SetVolumeCell(2, "95.50%");
    window.SetOutputCell(2, Text("02 - Night Drive.mp3"));
    window.SetOutputCell(3, EngineText(kConvertingRow));
    window.List()->EntryAt(1)->OutputPath = "/home/user/Documents/01 - 晨曦.mp3";
    window.List()->SelectRows({1});
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ApplyLook(app);
    const ProgramArguments arguments = ParseProgramArguments(QApplication::arguments().mid(1));
    if (!arguments.error.isEmpty()) {
        std::fprintf(stderr, "quelvox-screenshots: %s\n", qPrintable(arguments.error));
        return 2;
    }
    UseLanguage(app, arguments.language.value_or(Language::Chinese));
    g_folder = arguments.paths.isEmpty() ? QStringLiteral("screenshots") : arguments.paths.front();
    QDir().mkpath(g_folder);

    // A scratch settings file, marked as not the first start, so the user's
    // own settings are never read or written.
    QTemporaryDir scratch;
    const SettingsLocation location{
        (scratch.path() + QStringLiteral("/settings.ini")).toStdString()};
    CSettings first;
    CheckFirstRun(first, location);

    CCodecRuntime runtime;
    runtime.Start(ExecutableFolder());
    CMainWindow window(runtime, MainWindowServices{nullptr, nullptr, location});
    window.show();
    Settle();
    Save(window.grab(), QStringLiteral("main-empty.png"));

    AddSampleRows(window);
    Settle();
    Save(window.grab(), QStringLiteral("main.png"));

    // The command button under the mouse.
    CSkinButton* convert = window.Button(kCmdConvertAll);
    QEnterEvent enter(QPointF(20, 10), QPointF(20, 10), convert->mapToGlobal(QPointF(20, 10)));
    QCoreApplication::sendEvent(convert, &enter);
    Settle();
    Save(window.grab(QRect(0, 56, 137, 330)), QStringLiteral("buttons-hover.png"));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(convert, &leave);

    // The keyboard focus on a command button, and on the list.
    window.Button(kCmdAddFolder)->setFocus();
    Settle();
    Save(window.grab(QRect(0, 56, 137, 330)), QStringLiteral("focus-button.png"));
    window.Button(kCmdHomePage)->setFocus();
    Settle();
    Save(window.grab(QRect(0, 600, 137, 50)), QStringLiteral("focus-link.png"));
    window.List()->setFocus();
    window.List()->setCurrentIndex(window.List()->Model()->index(0, 0));
    Settle();
    Save(window.grab(), QStringLiteral("focus-list.png"));

    QMenu* context = window.ContextMenu();
    context->popup(window.List()->viewport()->mapToGlobal(QPoint(120, 40)));
    Save(WithPopup(window, *context), QStringLiteral("context-menu.png"));
    context->hide();

    QMenu* help = window.HelpMenu();
    CSkinButton* helpButton = window.Button(kCmdHelpMenu);
    help->popup(helpButton->mapToGlobal(QPoint(0, helpButton->height())));
    // Keep the menu inside the picture: it opens below the button, to the
    // left where the screen ends.
    const QPoint inside = window.mapToGlobal(QPoint(window.width() - help->sizeHint().width() - 8,
                                                    helpButton->y() + helpButton->height()));
    help->move(inside);
    Save(WithPopup(window, *help), QStringLiteral("help-menu.png"));
    help->hide();

    QComboBox* formats = window.FormatBox();
    formats->showPopup();
    // Scrolled a little past the chosen format, so that the newest format
    // of the list (OPUS, below MP3) shows as well.
    const int opus = formats->findData(kFormatOpus);
    if (opus >= 0)
        formats->view()->scrollTo(formats->model()->index(opus, 0),
                                  QAbstractItemView::PositionAtBottom);
    Save(WithPopup(window, *formats->view()->window()), QStringLiteral("format-list.png"));
    formats->hidePopup();

    // Adding: the small progress window over the list.
    {
        CProgressWindow adding(&window, CProgressWindow::Kind::Adding);
        adding.SetFileText(EngineText(kAddingText, 3, 12, "03 - 海边.wav"));
        adding.SetFileProgress(3, 12);
        adding.ShowCentred();
        Save(WithPopup(window, adding), QStringLiteral("adding.png"));
        adding.hide();
    }

    // Converting: both texts and bars.
    {
        CProgressWindow converting(&window, CProgressWindow::Kind::Converting);
        const std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
        converting.SetRunText(
            EngineText(kRunText, 2, 6, FormatName(*FindFormat(catalogue, kFormatMp3))));
        converting.SetRunProgress(2, 6);
        converting.SetFileText(EngineText(kConvertingPass, 41, "02 - Night Drive.mp3"));
        converting.SetFileProgress(41, 100);
        converting.ShowCentred();
        Save(WithPopup(window, converting), QStringLiteral("converting.png"));
        converting.hide();
    }

    // The title during a run as the task bar shows it: the program's icon
    // with the run's bar, and the title.
    {
        QPixmap strip(420, 40);
        strip.fill(QColor(38, 41, 46));
        QPainter painter(&strip);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(QRect(4, 2, 412, 36), QColor(64, 69, 77));
        window.windowIcon().paint(&painter, QRect(10, 5, 26, 26));
        painter.fillRect(QRect(10, 33, 26, 3), QColor(20, 20, 20));
        painter.fillRect(QRect(10, 33, 26 * 37 / 100, 3), QColor(61, 174, 233));
        painter.setPen(Qt::white);
        painter.setFont(window.font());
        painter.drawText(QRect(46, 2, 366, 36), Qt::AlignVCenter | Qt::AlignLeft,
                         CMainWindow::TitleFor(window.List()->RowCount(), 37));
        painter.end();
        Save(strip, QStringLiteral("title-during-run.png"));
    }

    // The closing message of an add where some files failed, each cause
    // after the files it concerns: the engine's own text for real files.
    {
        const QString folder = scratch.path() + QStringLiteral("/音乐");
        QDir().mkpath(folder);
        std::vector<std::string> paths;
        for (const char* name : {"Track01.cda", "broken.ogg", "notes.wav"}) {
            paths.push_back((folder + u'/' + QString::fromUtf8(name)).toStdString());
            std::ofstream(paths.back())
                << (paths.back().ends_with(".cda") ? "RIFF....CDDAfmt " : "no audio");
        }
        WmaFormatList wmaFormats;
        CRunReaderServices readers(runtime, wmaFormats, nullptr);
        const AddPathListResult added =
            AddPathList(readers, window.PathMap(), window, paths, nullptr);
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Quelvox"),
                        ShowText(added.message), QMessageBox::Ok, &window);
        box.show();
        Settle();
        Save(box.grab(), QStringLiteral("add-failures.png"));
        box.hide();
    }

    // The list after a run in which one file failed.
    window.SetVolumeCell(3, "100.00%");
    window.SetOutputCell(3, Text("03 - 海边.mp3"));
    window.SetOutputCell(4, EngineText(kFailedWithDetailRow,
                                       EngineText(kReaderSupportNote, kSupportAddress)));
    window.WidenOutputColumn();
    // A source that held less audio than its header claimed.
    window.NoteShortSource(5, 15.0, 1.44);
    window.SetVolumeCell(5, "100.00%");
    window.SetOutputCell(5, Text("voice-memo.mp3"));
    window.SetOutputCell(6, EngineText(kCancelledRow));
    window.List()->ScrollToRow(1);
    Settle();
    Save(window.grab(), QStringLiteral("main-after-run.png"));

    // Sorted by duration, longest first: the header shows the arrow.
    window.List()->SortByColumn(kColumnDuration);
    window.List()->SortByColumn(kColumnDuration);
    Settle();
    Save(window.grab(), QStringLiteral("main-sorted.png"));

    window.ShowHelp();
    Settle();
    if (window.HelpWindow()) {
        window.HelpWindow()->resize(900, 700);
        Settle();
        Save(window.HelpWindow()->grab(), QStringLiteral("help.png"));
    }

    window.ShowAbout();
    Settle();
    if (window.AboutBox()) Save(window.AboutBox()->grab(), QStringLiteral("about.png"));

    window.close();
    return 0;
}
