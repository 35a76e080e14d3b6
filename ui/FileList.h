// The file list: seven columns in report view, several rows selectable,
// sorted by a click on a column header. Each row carries its FileEntry,
// which lives in the window's path map.
//
// The rows live in a table model (one entry and its cell texts per row)
// shown by a tree view, so that appending, removing and sorting thousands
// of rows each touch the view once.
#pragma once

#include "common/FileEntry.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QTreeView>

#include <vector>

namespace quelvox::ui {

enum FileColumn {
    kColumnFile = 0,
    kColumnDuration,
    kColumnBitrate,
    kColumnSampleRate,
    kColumnChannels,
    kColumnVolume,
    kColumnOutput,
    kColumnCount,
};

// How a column's texts compare when the list is sorted by it.
enum class SortKind {
    Text,      // locale-aware, case-sensitive, at most 259 characters
    Number,    // the leading decimal number ("128 kbps" is 128, "95.50%" is 95.5)
    Duration,  // "mm:ss" or "h:mm:ss" as seconds; an empty cell is shortest
};

SortKind ColumnSortKind(int column);

// The file cell's parent folder when another listed file has the same
// name (else empty): shown after the name, in grey.
constexpr int kSharedNameFolderRole = Qt::UserRole + 1;

// The rows of the list: 0-based as models are.
class CFileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit CFileListModel(QObject* parent = nullptr);
    void SetHeaders(const QStringList& headers);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Appends one row per entry, in order, in one insertion.
    void Append(const std::vector<FileEntry*>& entries);
    // Removes the given rows (any order, duplicates ignored) and returns
    // their entries, top to bottom.
    std::vector<FileEntry*> Remove(std::vector<int> rows);
    void Clear();
    // Stable sort by the column's rule; equal rows keep their order.
    void Sort(int column, Qt::SortOrder order);

    FileEntry* Entry(int row) const;
    QString Text(int row, int column) const;
    QString ToolTip(int row, int column) const;
    void SetText(int row, int column, const QString& text);
    void SetToolTip(int row, int column, const QString& text);
    // The output cell's text as the engine gave it, and the short source
    // note's tooltip (empty when the row has none).
    QString OutputText(int row) const;
    QString ShortNote(int row) const;
    void SetOutput(int row, const QString& text, const QString& note);
    // The folder that tells the row apart from other rows of its name;
    // empty while its name is the only one.
    QString SharedNameFolder(int row) const;

private:
    struct Row {
        FileEntry* entry = nullptr;
        QString cells[kColumnCount];
        QString durationTip;
        QString outputTip;
        QString volumeTip;
        QString outputText;
        QString shortNote;
        // The name of the folder that holds the source.
        QString folder;
    };
    bool Valid(int row) const { return row >= 0 && row < static_cast<int>(rows_.size()); }
    void CellChanged(int row, int column);
    // Counts a name in or out; true when the name turned shared or lone.
    bool CountName(const QString& name, int change);
    // Redraws the file cells of rows [first, end).
    void FileCellsChanged(int first, int end);

    std::vector<Row> rows_;
    // How many rows show each file name: one lookup per drawn cell, one
    // update per added or removed row.
    QHash<QString, int> nameCounts_;
    QString headers_[kColumnCount];
};

class CFileList : public QTreeView {
    Q_OBJECT
public:
    explicit CFileList(QWidget* parent = nullptr);

    // Appends a row for `entry` with columns 0 to 4 filled and returns its
    // 1-based number.
    int AppendEntry(FileEntry& entry);
    // Appends a row for each entry, in order, and returns the first one's
    // 1-based number (the next row's number when `entries` is empty).
    int AppendEntries(const std::vector<FileEntry*>& entries);
    // The entry of a 1-based row number, or null.
    FileEntry* EntryAt(int row) const;
    // The selected rows' 1-based numbers, top to bottom.
    std::vector<int> SelectedRows() const;
    // Selects exactly the given 1-based rows.
    void SelectRows(const std::vector<int>& rows);
    int RowCount() const;
    // Removes the given 1-based rows and returns their entries, top to
    // bottom.
    std::vector<FileEntry*> RemoveRows(const std::vector<int>& rows);
    void Clear();

    // A cell's text and tooltip by 1-based row; a header's text.
    QString CellText(int row, int column) const;
    QString CellToolTip(int row, int column) const;
    QString HeaderText(int column) const;

    // The volume cell of a 1-based row.
    // A new volume text clears the cell's tooltip.
    void SetVolumeText(int row, const QString& text);
    void SetVolumeTip(int row, const QString& tip);
    // The output cell of a 1-based row: `text`, followed by the row's short
    // source note when it has one.
    void SetOutputText(int row, const QString& text);
    // The row's source converted but held less audio than its header
    // claimed: the duration shows what it held, the output cell says so
    // after its text, and both tooltips give the two lengths.
    void NoteShortSource(int row, double claimedSeconds, double heldSeconds);
    // Forgets the row's short source note (a new conversion of it begins,
    // or its output was not kept).
    void ClearShortSourceNote(int row);
    bool HasShortSourceNote(int row) const;
    // Scrolls the 1-based row into view.
    void ScrollToRow(int row);

    // Sorts by `column`: descending when it is the column of the last sort
    // and that sort was ascending, otherwise ascending.
    void SortByColumn(int column);
    int LastSortColumn() const { return lastColumn_; }
    Qt::SortOrder LastSortOrder() const { return lastOrder_; }

    CFileListModel* Model() const { return model_; }

protected:
    // The frame shows the keyboard focus.
    bool event(QEvent* e) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    CFileListModel* model_;
    // A scroll to the last row is queued.
    bool scrollPending_ = false;
    int lastColumn_ = -1;
    Qt::SortOrder lastOrder_ = Qt::AscendingOrder;
};

}  // namespace quelvox::ui
