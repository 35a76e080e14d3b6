#include "ui/AddRelay.h"

namespace quelvox::ui {

CAddRelay::CAddRelay(QObject* parent) : QObject(parent) {
    qRegisterMetaType<quelvox::Text>();
    qRegisterMetaType<std::vector<const quelvox::FileEntry*>>();
}

void CAddRelay::AddProgress(const Text& text, uint64_t done, uint64_t total) {
    emit ProgressChanged(text, done, total);
}
void CAddRelay::RowsAdded(const std::vector<const FileEntry*>& entries) { emit RowsReady(entries); }
void CAddRelay::AddFinished(const AddOutcome&) { emit Finished(); }

}  // namespace quelvox::ui
