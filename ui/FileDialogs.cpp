#include "ui/FileDialogs.h"

#include "common/InputType.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <memory>

namespace quelvox::ui {

namespace {

// The file types as they have always been written: patterns separated by
// ';'. The dialog wants them separated by blanks.
constexpr const char* kFileTypes[] = {
    // "*" and not "*.*": Linux file names need no dot.
    "All Files (*)",
    "3GPP Files (*.3gp;*.3gpp)",
    "3GPP2 Files (*.3g2;*.3gp2)",
    "Adobe Flash Files (*.swf)",
    "Advanced Audio Coding (*.aac)",
    "AIFF Files (*.aiff;*.aif;*.aifc;*.afc)",
    "AMR Files (*.amr;*.awb)",
    "AU Files (*.au;*.snd)",
    "AVI Files (*.avi)",
    "CD Audio (*.cda)",
    "Creative Voice Files (*.voc)",
    "CRI ADX Files (*.adx)",
    "Dolby Digital AC-3 (*.ac3)",
    "DTS Files (*.dts)",
    "DV Video Files (*.dv;*.dif)",
    "DVD Video Files (*.vob;*.dvd)",
    "Electronic Arts CDATA Files (*.cdata)",
    "Flash Video Files (*.flv)",
    "Free Lossless Audio Codec (*.flac;*.fla)",
    "H.264/MPEG4 AVC Video (*.m2ts;*.mts)",
    "Matroska Files (*.mkv;*.mka)",
    "Microsoft Digital Video Recording (*.dvr-ms)",
    "MIDI Files (*.midi;*.mid;*.rmi;*.kar)",
    "MJPEG Video Files (*.mjpg;*.mjpeg)",
    "MMF Files (*.mmf)",
    "MOD Musics (*.mod;*.xm;*.it;*.s3m;*.mtm;*.umx;*.mo3)",
    "Monkey's Audio (*.ape;*.mac)",
    "MP3 Files (*.mp3)",
    "MPEG Audio Files (*.mpa;*.mpga;*.m2a)",
    "MPEG Video Files (*.mpg;*.mpe;*.mpeg;*.m1v;*.mp2;*.m2v;*.mp1;*.mlv)",
    "MPEG-4 Audio Files (*.m4a;*.m4b;*.mp4)",
    "MPEG4 TS HD Video (*.ts)",
    "MPEG-4 Video Files (*.mp4;*.m4v;*.mpv;*.psp)",
    "Musepack (*.mpc;*.mp+;*.mpp)",
    "Nullsoft Audio/Video Files (*.nsv;*.nsa)",
    "NUT Files (*.nut)",
    "OGG Files (*.ogg;*.oga;*.ogm;*.ogv;*.ogx)",
    "QuickTime Files (*.mov;*.qt)",
    "Raw h261 Files (*.h261)",
    "Raw h263 Files (*.h263)",
    "Raw h264 Video Files (*.h264;*.264)",
    "Real Audio Files (*.ra;*.ram)",
    "Real Media Files (*.rm;*.rmvb)",
    "Speex (*.spx)",
    "The True Audio (*.tta)",
    "VCD Video Files (*.dat)",
    "WAV Files (*.wav;*.wave)",
    "WavPack (*.wv)",
    "Windows Media Files (*.wma;*.asf;*.wmv;*.wm;*.wmd;*.xwmv)",
    "YUV Video Files (*.yuv)",
};

// The patterns of a file type as written: the text in its parentheses.
QStringList TypePatterns(const char* type) {
    const QString text = QString::fromLatin1(type);
    const qsizetype open = text.lastIndexOf(u'(');
    const qsizetype close = text.lastIndexOf(u')');
    if (open < 0 || close <= open) return {};
    return text.mid(open + 1, close - open - 1).split(u';', Qt::SkipEmptyParts);
}

// The save dialog that asks `refuses` about a chosen name before it goes
// on: a refused name keeps the dialog open, and only a name that is not
// refused is confirmed for replacing by the dialog itself.
class CRefusingSaveDialog : public QFileDialog {
public:
    CRefusingSaveDialog(QWidget* parent, NameRefusal refuses)
        : QFileDialog(parent), refuses_(std::move(refuses)) {}

    void accept() override {
        const QStringList chosen = selectedFiles();
        // A folder typed into the name field is opened by the dialog.
        if (refuses_ && !chosen.isEmpty() && !QFileInfo(chosen.front()).isDir() &&
            refuses_(this, chosen.front()))
            return;
        QFileDialog::accept();
    }

private:
    NameRefusal refuses_;
};

}  // namespace

QStringList SupportedPatterns() {
    // The file types' patterns, then the extensions the readers are
    // chosen by that no type names; each once.
    QStringList patterns;
    for (const char* type : kFileTypes)
        for (const QString& pattern : TypePatterns(type))
            if (pattern.startsWith(QLatin1String("*.")) && !patterns.contains(pattern))
                patterns << pattern;
    for (const InputTypeRow& row : InputTypeRows())
        for (const char* const* extension = row.extensions; *extension; ++extension) {
            const QString pattern = u'*' + QString::fromLatin1(*extension);
            if (!patterns.contains(pattern)) patterns << pattern;
        }
    return patterns;
}

QStringList OpenFileTypes() {
    // Every file that can be added comes first; the types follow.
    QStringList types{
        QCoreApplication::translate("quelvox::ui::CFileDialogs", "所有支持的文件 (%1)")
            .arg(SupportedPatterns().join(u' '))};
    for (const char* type : kFileTypes) types << QString::fromLatin1(type).replace(u';', u' ');
    return types;
}

QString MergedFileType(const QString& extension) {
    return QCoreApplication::translate("quelvox::ui::CFileDialogs", "%1 文件 (*.%2)")
        .arg(extension.toUpper(), extension);
}

QFileDialog* MakeOpenFilesDialog(QWidget* parent) {
    auto* dialog = new QFileDialog(parent);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilters(OpenFileTypes());
    dialog->selectNameFilter(OpenFileTypes().front());
    return dialog;
}

QStringList CSystemFileDialogs::OpenFiles(QWidget* parent) {
    std::unique_ptr<QFileDialog> dialog(MakeOpenFilesDialog(parent));
    return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles() : QStringList();
}

QString CSystemFileDialogs::Folder(QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(
        parent, QCoreApplication::translate("quelvox::ui::CFileDialogs", "请选择文件夹:"), start,
        QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
}

QFileDialog* MakeMergedFileDialog(QWidget* parent, const QString& extension,
                                  const NameRefusal& refuses) {
    auto* dialog = new CRefusingSaveDialog(parent, refuses);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(MergedFileType(extension));
    dialog->setDefaultSuffix(extension);
    return dialog;
}

QString CSystemFileDialogs::MergedFile(QWidget* parent, const QString& extension,
                                       const NameRefusal& refuses) {
    // The name field starts empty; replacing an existing file is confirmed.
    std::unique_ptr<QFileDialog> dialog(MakeMergedFileDialog(parent, extension, refuses));
    return dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()
               ? dialog->selectedFiles().front()
               : QString();
}

}  // namespace quelvox::ui
