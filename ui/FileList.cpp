#include "ui/FileList.h"

#include "engine/ListCells.h"
#include "l10n/Translation.h"
#include "ui/Art.h"

#include <QHeaderView>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quelvox::ui {

namespace {

constexpr int kEntryRole = Qt::UserRole + 1;
// The output cell's text as the engine gave it, without a note.
constexpr int kOutputTextRole = Qt::UserRole + 2;
// The short source note's tooltip; empty when the row has none.
constexpr int kShortNoteRole = Qt::UserRole + 3;
constexpr int kCompareLength = 259;

// The leading decimal number of a text; lowest for a text without one, so
// empty cells gather at one end.
double LeadingNumber(const QString& text) {
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    if (end < trimmed.size() && (trimmed[end] == u'-' || trimmed[end] == u'+')) ++end;
    const qsizetype digits = end;
    while (end < trimmed.size() && trimmed[end].isDigit()) ++end;
    if (end < trimmed.size() && trimmed[end] == u'.') {
        ++end;
        while (end < trimmed.size() && trimmed[end].isDigit()) ++end;
    }
    bool ok = false;
    const double value = end > digits ? trimmed.left(end).toDouble(&ok) : 0.0;
    return ok ? value : -std::numeric_limits<double>::infinity();
}

// Seconds of "mm:ss" or "h:mm:ss"; -1 for an empty or unreadable cell.
long long DurationSeconds(const QString& text) {
    const QStringList parts = text.trimmed().split(u':');
    if (parts.size() < 2 || parts.size() > 3) return -1;
    long long seconds = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || value < 0) return -1;
        seconds = seconds * 60 + value;
    }
    return seconds;
}

class CFileItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;

    bool operator<(const QTreeWidgetItem& other) const override {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const QString a = text(column);
        const QString b = other.text(column);
        switch (ColumnSortKind(column)) {
            case SortKind::Number: return LeadingNumber(a) < LeadingNumber(b);
            case SortKind::Duration: return DurationSeconds(a) < DurationSeconds(b);
            case SortKind::Text: break;
        }
        return QString::localeAwareCompare(a.left(kCompareLength), b.left(kCompareLength)) < 0;
    }
};

QString Cell(const std::string& text) { return QString::fromStdString(text); }

QString DurationText(double seconds) {
    // Under a second still shows as a length, not as an empty cell.
    const int whole = std::max(1, static_cast<int>(std::lround(std::clamp(seconds, 0.0, 1e9))));
    return Cell(DurationCell(whole));
}

}  // namespace

SortKind ColumnSortKind(int column) {
    switch (column) {
        case kColumnDuration: return SortKind::Duration;
        case kColumnBitrate:
        case kColumnSampleRate:
        case kColumnVolume: return SortKind::Number;
        default: return SortKind::Text;
    }
}

CFileList::CFileList(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(kColumnCount);
    setHeaderLabels({tr("文件"), tr("持续时间"), tr("比特率"), tr("采样率"), tr("声道"), tr("音量"),
                     tr("输出")});
    static constexpr int kWidths[kColumnCount] = {206, 70, 80, 85, 75, 70, 200};
    for (int column = 0; column < kColumnCount; ++column) {
        setColumnWidth(column, kWidths[column]);
        const bool right = column != kColumnFile && column != kColumnOutput;
        headerItem()->setTextAlignment(column,
                                       (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFont(UiFont(12));
    header()->setFont(UiFont(12));
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    // The selection stays as visible without the focus as with it.
    QPalette colours = palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);
    connect(header(), &QHeaderView::sectionClicked, this, &CFileList::SortByColumn);
}

int CFileList::AppendEntry(FileEntry& entry) {
    auto* item = new CFileItem;
    item->setText(kColumnFile, Cell(FileNameCell(entry)));
    item->setText(kColumnDuration, Cell(DurationCell(entry.Duration)));
    item->setText(kColumnBitrate, Cell(BitrateCell(entry.Bitrate)));
    item->setText(kColumnSampleRate, Cell(SampleRateCell(entry.SampleRate)));
    item->setText(kColumnChannels, ShowText(ChannelsCell(entry.Channels)));
    for (int column = kColumnDuration; column <= kColumnVolume; ++column)
        item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(kColumnFile, kEntryRole,
                  QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(&entry)));
    addTopLevelItem(item);
    scrollToItem(item);
    return topLevelItemCount();
}

FileEntry* CFileList::EntryOf(const QTreeWidgetItem* item) const {
    if (!item) return nullptr;
    return reinterpret_cast<FileEntry*>(item->data(kColumnFile, kEntryRole).value<quintptr>());
}

FileEntry* CFileList::EntryAt(int row) const {
    if (row < 1 || row > topLevelItemCount()) return nullptr;
    return EntryOf(topLevelItem(row - 1));
}

std::vector<int> CFileList::SelectedRows() const {
    std::vector<int> rows;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected()) rows.push_back(i + 1);
    return rows;
}

void CFileList::SetOutputText(int row, const QString& text) {
    QTreeWidgetItem* item = row >= 1 && row <= topLevelItemCount() ? topLevelItem(row - 1) : nullptr;
    if (!item) return;
    item->setData(kColumnOutput, kOutputTextRole, text);
    const QString note = item->data(kColumnOutput, kShortNoteRole).toString();
    if (note.isEmpty() || text.isEmpty()) {
        item->setText(kColumnOutput, text);
        // A failure text can be longer than even the widened column.
        item->setToolTip(kColumnOutput, text);
        return;
    }
    item->setText(kColumnOutput, tr("%1 (来源不完整)").arg(text));
    item->setToolTip(kColumnOutput, text + u'\n' + note);
}

void CFileList::NoteShortSource(int row, double claimedSeconds, double heldSeconds) {
    QTreeWidgetItem* item = row >= 1 && row <= topLevelItemCount() ? topLevelItem(row - 1) : nullptr;
    if (!item) return;
    const QString note = tr("来源只含 %1 的音频, 其文件头声明为 %2.")
                             .arg(DurationText(heldSeconds), DurationText(claimedSeconds));
    item->setData(kColumnOutput, kShortNoteRole, note);
    item->setText(kColumnDuration, DurationText(heldSeconds));
    item->setToolTip(kColumnDuration, note);
    SetOutputText(row, item->data(kColumnOutput, kOutputTextRole).toString());
}

void CFileList::ClearShortSourceNote(int row) {
    QTreeWidgetItem* item = row >= 1 && row <= topLevelItemCount() ? topLevelItem(row - 1) : nullptr;
    if (!item || item->data(kColumnOutput, kShortNoteRole).toString().isEmpty()) return;
    item->setData(kColumnOutput, kShortNoteRole, QString());
    SetOutputText(row, item->data(kColumnOutput, kOutputTextRole).toString());
}

bool CFileList::HasShortSourceNote(int row) const {
    const QTreeWidgetItem* item =
        row >= 1 && row <= topLevelItemCount() ? topLevelItem(row - 1) : nullptr;
    return item && !item->data(kColumnOutput, kShortNoteRole).toString().isEmpty();
}

void CFileList::SortByColumn(int column) {
    if (column < 0 || column >= kColumnCount) return;
    const Qt::SortOrder order = (column == lastColumn_ && lastOrder_ == Qt::AscendingOrder)
                                    ? Qt::DescendingOrder
                                    : Qt::AscendingOrder;
    lastColumn_ = column;
    lastOrder_ = order;
    sortItems(column, order);
    // The sorted column shows its arrow from the first sort on.
    header()->setSortIndicator(column, order);
    header()->setSortIndicatorShown(true);
}

}  // namespace quelvox::ui
