#include "ui/RunRelay.h"

namespace quelvox::ui {

CRunRelay::CRunRelay(QObject* parent) : QObject(parent) {
    qRegisterMetaType<quelvox::Text>();
    qRegisterMetaType<quelvox::RunProgress>();
    qRegisterMetaType<quelvox::RunOutcome>();
}

void CRunRelay::SetVolumeCell(int row, const std::string& text) {
    emit VolumeCellChanged(row, QString::fromStdString(text));
}
void CRunRelay::SetOutputCell(int row, const Text& text) { emit OutputCellChanged(row, text); }
void CRunRelay::ScrollToRow(int row) { emit RowReached(row); }
void CRunRelay::WidenOutputColumn() { emit OutputColumnWidened(); }
void CRunRelay::NoteShortSource(int row, double claimedSeconds, double heldSeconds) {
    emit ShortSourceNoted(row, claimedSeconds, heldSeconds);
}
void CRunRelay::ForgetRowNotes(int row) { emit RowNotesForgotten(row); }
void CRunRelay::NoteDroppedTags(const DroppedTagNotes& notes) { emit TagsDropped(notes.summary); }
void CRunRelay::NoteFile(const Text& note) { emit FileNoted(note); }

void CRunRelay::NoteVolume(int row, const Text& note) { emit VolumeNoted(row, note); }
void CRunRelay::Progress(const RunProgress& progress) { emit ProgressChanged(progress); }
void CRunRelay::Finished(const RunOutcome& outcome) { emit RunFinished(outcome); }

}  // namespace quelvox::ui
