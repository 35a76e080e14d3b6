// The window's file and folder dialogs behind one interface, so that tests
// answer them without a dialog ever blocking.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QFileDialog;
class QWidget;

namespace quelvox::ui {

// The open-file dialog's file types, in order, as the dialog shows them:
// "所有支持的文件" first (and selected), then the 50 types, "All Files (*)"
// first; each description with its patterns separated by blanks.
QStringList OpenFileTypes();
// The patterns of every file the program reads: the types' patterns, then
// the readers' extensions that no type names, each once.
QStringList SupportedPatterns();

// The save dialog's one type for a merged file: "MP3 文件 (*.mp3)".
QString MergedFileType(const QString& extension);

// Whether a chosen name is turned down; it tells the user why over
// `dialog` before it answers true.
using NameRefusal = std::function<bool(QWidget* dialog, const QString& path)>;

class IFileDialogs {
public:
    virtual ~IFileDialogs() = default;
    // Files chosen in the open-file dialog (several may be chosen, each must
    // exist); empty when cancelled.
    virtual QStringList OpenFiles(QWidget* parent) = 0;
    // The folder chosen in the folder dialog titled "请选择文件夹:", starting
    // at `start`; empty when cancelled.
    virtual QString Folder(QWidget* parent, const QString& start) = 0;
    // The merged file's name from the save dialog for files of `extension`;
    // empty when cancelled. A name that `refuses` turns down (it says why
    // itself) leaves the dialog open; only then is replacing an existing
    // file confirmed.
    virtual QString MergedFile(QWidget* parent, const QString& extension,
                               const NameRefusal& refuses) = 0;
};

// The toolkit's own dialogs. Their type filters match extensions without
// regard to case (song.MP3 is one of the "MP3 Files"), which the desktops'
// native dialogs do not promise.
class CSystemFileDialogs : public IFileDialogs {
public:
    QStringList OpenFiles(QWidget* parent) override;
    QString Folder(QWidget* parent, const QString& start) override;
    QString MergedFile(QWidget* parent, const QString& extension,
                       const NameRefusal& refuses) override;
};

// The open-file dialog as OpenFiles shows it, not yet shown (for tests and
// pictures). The caller owns it.
QFileDialog* MakeOpenFilesDialog(QWidget* parent);

// The merged file's save dialog as MergedFile shows it, not yet shown.
// The caller owns it.
QFileDialog* MakeMergedFileDialog(QWidget* parent, const QString& extension,
                                  const NameRefusal& refuses);

}  // namespace quelvox::ui
