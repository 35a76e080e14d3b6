// The window's side of a run: the job's events, which arrive on the job's
// threads, become Qt signals of an object on the window thread, so that
// connected slots run queued on that thread while the window stays live.
// The window keeps no nested event loop and never waits for the job.
#pragma once

#include "engine/Session.h"

#include <QMetaType>
#include <QObject>
#include <QString>

Q_DECLARE_METATYPE(quelvox::Text)
Q_DECLARE_METATYPE(quelvox::RunProgress)
Q_DECLARE_METATYPE(quelvox::RunOutcome)

namespace quelvox::ui {

class CRunRelay : public QObject, public ISessionRunEvents {
    Q_OBJECT
public:
    explicit CRunRelay(QObject* parent = nullptr);

    // IRunEvents, on the job's threads: each emits its signal.
    void SetVolumeCell(int row, const std::string& text) override;
    void SetOutputCell(int row, const Text& text) override;
    void ScrollToRow(int row) override;
    void WidenOutputColumn() override;
    void NoteShortSource(int row, double claimedSeconds, double heldSeconds) override;
    void ForgetRowNotes(int row) override;
    void NoteDroppedTags(const DroppedTagNotes& notes) override;
    void NoteFile(const Text& note) override;
    void NoteVolume(int row, const Text& note) override;
    void Progress(const RunProgress& progress) override;
    void Finished(const RunOutcome& outcome) override;

signals:
    void VolumeCellChanged(int row, const QString& text);
    void OutputCellChanged(int row, const quelvox::Text& text);
    void RowReached(int row);
    void OutputColumnWidened();
    void ShortSourceNoted(int row, double claimedSeconds, double heldSeconds);
    void RowNotesForgotten(int row);
    void TagsDropped(const quelvox::Text& summary);
    void FileNoted(const quelvox::Text& note);
    void VolumeNoted(int row, const quelvox::Text& note);
    void ProgressChanged(const quelvox::RunProgress& progress);
    void RunFinished(const quelvox::RunOutcome& outcome);
};

}  // namespace quelvox::ui
