// The window's side of adding files: the add job's events, which arrive on
// the job's threads, become Qt signals of an object on the window thread,
// so that connected slots run queued on that thread while the window stays
// live and draws through its normal event loop.
#pragma once

#include "engine/AddJob.h"
// Text as a queued signal's argument is declared with the run's relay.
#include "ui/RunRelay.h"

#include <QMetaType>
#include <QObject>

#include <vector>

Q_DECLARE_METATYPE(std::vector<const quelvox::FileEntry*>)

namespace quelvox::ui {

class CAddRelay : public QObject, public IAddEvents {
    Q_OBJECT
public:
    explicit CAddRelay(QObject* parent = nullptr);

    // IAddEvents, on the job's threads: each emits its signal.
    void AddProgress(const Text& text, uint64_t done, uint64_t total) override;
    void RowsAdded(const std::vector<const FileEntry*>& entries) override;
    void AddFinished(const AddOutcome& outcome) override;

signals:
    void ProgressChanged(const quelvox::Text& text, quint64 done, quint64 total);
    void RowsReady(const std::vector<const quelvox::FileEntry*>& entries);
    // The outcome itself is taken from the session (CSession::FinishAdding).
    void Finished();
};

}  // namespace quelvox::ui
