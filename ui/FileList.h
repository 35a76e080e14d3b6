// The file list: seven columns in report view, several rows selectable,
// sorted by a click on a column header. Each row carries its FileEntry,
// which lives in the window's path map.
#pragma once

#include "common/FileEntry.h"

#include <QTreeWidget>

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

class CFileList : public QTreeWidget {
    Q_OBJECT
public:
    explicit CFileList(QWidget* parent = nullptr);

    // Appends a row for `entry` with columns 0 to 4 filled and returns its
    // 1-based number.
    int AppendEntry(FileEntry& entry);
    // The entry of a 1-based row number, or null.
    FileEntry* EntryAt(int row) const;
    FileEntry* EntryOf(const QTreeWidgetItem* item) const;
    // The selected rows' 1-based numbers, top to bottom.
    std::vector<int> SelectedRows() const;
    int RowCount() const { return topLevelItemCount(); }

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

    // Sorts by `column`: descending when it is the column of the last sort
    // and that sort was ascending, otherwise ascending.
    void SortByColumn(int column);
    int LastSortColumn() const { return lastColumn_; }
    Qt::SortOrder LastSortOrder() const { return lastOrder_; }

private:
    int lastColumn_ = -1;
    Qt::SortOrder lastOrder_ = Qt::AscendingOrder;
};

}  // namespace quelvox::ui
