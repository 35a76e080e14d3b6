#include "ui/FileList.h"

#include "engine/ListCells.h"
#include "l10n/Translation.h"
#include "ui/Art.h"

#include <QCollator>
#include <QFile>
#include <QHeaderView>
#include <QItemSelection>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace quelvox::ui {

namespace {

constexpr int kCompareLength = 259;
// Removing more separate runs of rows than this rebuilds the list at once
// instead of removing each run from the view.
constexpr size_t kMostRemovedRuns = 16;

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

QString Cell(const std::string& text) { return QString::fromStdString(text); }

QString DurationText(double seconds) {
    // Under a second still shows as a length, not as an empty cell.
    const int whole = std::max(1, static_cast<int>(std::lround(std::clamp(seconds, 0.0, 1e9))));
    return Cell(DurationCell(whole));
}

bool RightAligned(int column) { return column != kColumnFile && column != kColumnOutput; }

QString ShownPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The name of the folder that holds `path` ("/" for a file at the root).
QString FolderName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return QStringLiteral("/");
    const size_t before = path.find_last_of('/', slash - 1);
    const size_t start = before == std::string::npos ? 0 : before + 1;
    return ShownPath(path.substr(start, slash - start));
}

// The file cell: its name as usual, then, when another row has the same
// name, the folder that holds it, in grey, in the room the name leaves.
class CFileCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const QString folder = index.data(kSharedNameFolderRole).toString();
        if (folder.isEmpty()) return;
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QWidget* widget = item.widget;
        const QStyle* style = widget ? widget->style() : nullptr;
        if (!style) return;
        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
        const QFontMetrics metrics(item.font);
        // The margin the style leaves before the text, and a gap after it.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const int used = metrics.horizontalAdvance(item.text) + margin;
        const int gap = metrics.horizontalAdvance(QLatin1Char(' ')) * 2;
        const QRect room = text.adjusted(used + gap, 0, -margin, 0);
        if (room.width() < metrics.horizontalAdvance(QStringLiteral("..."))) return;
        const bool selected = item.state & QStyle::State_Selected;
        QColor grey = selected ? item.palette.color(QPalette::HighlightedText)
                               : item.palette.color(QPalette::PlaceholderText);
        if (selected) grey.setAlphaF(0.7f);
        painter->save();
        painter->setFont(item.font);
        painter->setPen(grey);
        painter->drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(folder, Qt::ElideMiddle, room.width()));
        painter->restore();
    }
};

// The order of the rows sorted by `column`: each row's key is worked out
// once. Texts compare as QString::localeAwareCompare does (the default
// collator; an empty text before any other), numbers and lengths by value.
std::vector<int> SortedOrder(const std::vector<QString>& cells, int column, bool descending) {
    const int count = static_cast<int>(cells.size());
    std::vector<int> order(cells.size());
    std::iota(order.begin(), order.end(), 0);
    auto sortBy = [&](auto less) {
        if (descending) {
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return less(b, a); });
        } else {
            std::stable_sort(order.begin(), order.end(), less);
        }
    };
    switch (ColumnSortKind(column)) {
        case SortKind::Number: {
            std::vector<double> keys(cells.size());
            for (int i = 0; i < count; ++i) keys[size_t(i)] = LeadingNumber(cells[size_t(i)]);
            sortBy([&](int a, int b) { return keys[size_t(a)] < keys[size_t(b)]; });
            break;
        }
        case SortKind::Duration: {
            std::vector<long long> keys(cells.size());
            for (int i = 0; i < count; ++i) keys[size_t(i)] = DurationSeconds(cells[size_t(i)]);
            sortBy([&](int a, int b) { return keys[size_t(a)] < keys[size_t(b)]; });
            break;
        }
        case SortKind::Text: {
            std::vector<QCollatorSortKey> keys;
            keys.reserve(cells.size());
            for (const QString& cell : cells)
                keys.push_back(QCollator::defaultSortKey(QStringView(cell).left(kCompareLength)));
            sortBy([&](int a, int b) {
                const bool emptyA = cells[size_t(a)].isEmpty();
                const bool emptyB = cells[size_t(b)].isEmpty();
                if (emptyA || emptyB) return emptyA && !emptyB;
                return keys[size_t(a)].compare(keys[size_t(b)]) < 0;
            });
            break;
        }
    }
    return order;
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

// ---- the model -----------------------------------------------------------

CFileListModel::CFileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void CFileListModel::SetHeaders(const QStringList& headers) {
    for (int column = 0; column < kColumnCount && column < headers.size(); ++column)
        headers_[column] = headers[column];
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

int CFileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !Valid(index.row())) return {};
    const Row& row = rows_[static_cast<size_t>(index.row())];
    const int column = index.column();
    switch (role) {
        case Qt::DisplayRole: return row.cells[column];
        case kSharedNameFolderRole:
            return column == kColumnFile ? SharedNameFolder(index.row()) : QString();
        case Qt::ToolTipRole:
            // The file cell's tooltip tells rows of one name apart.
            if (column == kColumnFile && row.entry) return ShownPath(row.entry->Path);
            if (column == kColumnDuration && !row.durationTip.isEmpty()) return row.durationTip;
            if (column == kColumnOutput && !row.outputTip.isEmpty()) return row.outputTip;
            if (column == kColumnVolume && !row.volumeTip.isEmpty()) return row.volumeTip;
            return {};
        case Qt::TextAlignmentRole:
            if (RightAligned(column))
                return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
            return {};
        default: return {};
    }
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == Qt::DisplayRole) return headers_[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(
            Qt::Alignment((RightAligned(section) ? Qt::AlignRight : Qt::AlignLeft) |
                          Qt::AlignVCenter));
    return {};
}

void CFileListModel::Append(const std::vector<FileEntry*>& entries) {
    if (entries.empty()) return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(entries.size()) - 1);
    // Room grows by doubling: rows often arrive a few at a time, and an
    // exact reserve each time would move every row on every append.
    const size_t needed = rows_.size() + entries.size();
    if (needed > rows_.capacity()) rows_.reserve(std::max(needed, 2 * rows_.capacity()));
    bool shared = false;
    for (FileEntry* entry : entries) {
        Row row;
        row.entry = entry;
        row.cells[kColumnFile] = Cell(FileNameCell(*entry));
        row.folder = FolderName(entry->Path);
        shared = CountName(row.cells[kColumnFile], +1) || shared;
        row.cells[kColumnDuration] = Cell(DurationCell(entry->Duration));
        row.cells[kColumnBitrate] = Cell(BitrateCell(entry->Bitrate));
        row.cells[kColumnSampleRate] = Cell(SampleRateCell(entry->SampleRate));
        row.cells[kColumnChannels] = ShowText(ChannelsCell(entry->Channels));
        rows_.push_back(std::move(row));
    }
    endInsertRows();
    // Rows listed before may now share their name with a new one.
    if (shared) FileCellsChanged(0, first);
}

std::vector<FileEntry*> CFileListModel::Remove(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [this](int r) { return !Valid(r); }),
               rows.end());
    std::vector<FileEntry*> removed;
    removed.reserve(rows.size());
    bool lone = false;
    for (int row : rows) {
        removed.push_back(rows_[static_cast<size_t>(row)].entry);
        lone = CountName(rows_[static_cast<size_t>(row)].cells[kColumnFile], -1) || lone;
    }
    // The runs of consecutive rows, top to bottom.
    std::vector<std::pair<int, int>> runs;
    for (int row : rows) {
        if (!runs.empty() && runs.back().second + 1 == row) {
            runs.back().second = row;
        } else {
            runs.emplace_back(row, row);
        }
    }
    if (rows.size() == rows_.size()) {
        // Every row goes: the list starts afresh.
        Clear();
        return removed;
    }
    if (runs.size() <= kMostRemovedRuns) {
        // Bottom to top, so the rows above keep their numbers.
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows({}, run->first, run->second);
            rows_.erase(rows_.begin() + run->first, rows_.begin() + run->second + 1);
            endRemoveRows();
        }
        if (lone) FileCellsChanged(0, static_cast<int>(rows_.size()));
        return removed;
    }
    beginResetModel();
    std::vector<Row> kept;
    kept.reserve(rows_.size() - rows.size());
    size_t next = 0;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (next < rows.size() && static_cast<size_t>(rows[next]) == i) {
            ++next;
            continue;
        }
        kept.push_back(std::move(rows_[i]));
    }
    rows_ = std::move(kept);
    endResetModel();
    return removed;
}

void CFileListModel::Clear() {
    if (rows_.empty()) return;
    beginResetModel();
    // The memory goes with the rows, not just their contents.
    std::vector<Row>().swap(rows_);
    nameCounts_ = QHash<QString, int>();
    endResetModel();
}

void CFileListModel::Sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kColumnCount || rows_.size() < 2) return;
    std::vector<QString> cells;
    cells.reserve(rows_.size());
    for (const Row& row : rows_) cells.push_back(row.cells[column]);
    const std::vector<int> sorted = SortedOrder(cells, column, order == Qt::DescendingOrder);

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(rows_.size());
    std::vector<Row> reordered;
    reordered.reserve(rows_.size());
    for (size_t i = 0; i < sorted.size(); ++i) {
        newRowOf[static_cast<size_t>(sorted[i])] = static_cast<int>(i);
        reordered.push_back(std::move(rows_[static_cast<size_t>(sorted[i])]));
    }
    rows_ = std::move(reordered);
    // The selection and the current row go with their rows.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after << this->index(newRowOf[static_cast<size_t>(index.row())], index.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

FileEntry* CFileListModel::Entry(int row) const {
    return Valid(row) ? rows_[static_cast<size_t>(row)].entry : nullptr;
}

QString CFileListModel::Text(int row, int column) const {
    if (!Valid(row) || column < 0 || column >= kColumnCount) return {};
    return rows_[static_cast<size_t>(row)].cells[column];
}

QString CFileListModel::ToolTip(int row, int column) const {
    return Valid(row) ? data(index(row, column), Qt::ToolTipRole).toString() : QString();
}

void CFileListModel::SetText(int row, int column, const QString& text) {
    if (!Valid(row) || column < 0 || column >= kColumnCount) return;
    QString& cell = rows_[static_cast<size_t>(row)].cells[column];
    if (cell == text) return;
    cell = text;
    CellChanged(row, column);
}

void CFileListModel::SetToolTip(int row, int column, const QString& text) {
    if (!Valid(row)) return;
    Row& r = rows_[static_cast<size_t>(row)];
    if (column == kColumnDuration) r.durationTip = text;
    if (column == kColumnOutput) r.outputTip = text;
    if (column == kColumnVolume) r.volumeTip = text;
    CellChanged(row, column);
}

QString CFileListModel::OutputText(int row) const {
    return Valid(row) ? rows_[static_cast<size_t>(row)].outputText : QString();
}

QString CFileListModel::ShortNote(int row) const {
    return Valid(row) ? rows_[static_cast<size_t>(row)].shortNote : QString();
}

void CFileListModel::SetOutput(int row, const QString& text, const QString& note) {
    if (!Valid(row)) return;
    Row& r = rows_[static_cast<size_t>(row)];
    r.outputText = text;
    r.shortNote = note;
}

QString CFileListModel::SharedNameFolder(int row) const {
    if (!Valid(row)) return {};
    const Row& r = rows_[static_cast<size_t>(row)];
    return nameCounts_.value(r.cells[kColumnFile]) > 1 ? r.folder : QString();
}

bool CFileListModel::CountName(const QString& name, int change) {
    auto it = nameCounts_.find(name);
    if (it == nameCounts_.end()) {
        if (change > 0) nameCounts_.insert(name, change);
        return false;
    }
    const int before = it.value();
    const int after = before + change;
    if (after <= 0) {
        nameCounts_.erase(it);
    } else {
        it.value() = after;
    }
    return (before > 1) != (after > 1);
}

void CFileListModel::FileCellsChanged(int first, int end) {
    if (end <= first) return;
    emit dataChanged(index(first, kColumnFile), index(end - 1, kColumnFile),
                     {Qt::DisplayRole, kSharedNameFolderRole});
}

void CFileListModel::CellChanged(int row, int column) {
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell);
}

// ---- the view ------------------------------------------------------------

CFileList::CFileList(QWidget* parent) : QTreeView(parent), model_(new CFileListModel(this)) {
    model_->SetHeaders({tr("文件"), tr("持续时间"), tr("比特率"), tr("采样率"), tr("声道"),
                        tr("音量"), tr("输出")});
    setModel(model_);
    static constexpr int kWidths[kColumnCount] = {206, 70, 80, 85, 75, 70, 200};
    for (int column = 0; column < kColumnCount; ++column) setColumnWidth(column, kWidths[column]);
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
    setItemDelegateForColumn(kColumnFile, new CFileCellDelegate(this));
}

bool CFileList::event(QEvent* e) {
    const bool handled = QTreeView::event(e);
    if (e->type() == QEvent::Paint && hasFocus()) {
        // The frame in the selection's colour while the list has the focus.
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Active, QPalette::Highlight));
        painter.setBrush(Qt::NoBrush);
        const int width = std::max(1, frameWidth());
        for (int i = 0; i < width; ++i) painter.drawRect(rect().adjusted(i, i, -1 - i, -1 - i));
    }
    return handled;
}

void CFileList::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    update();
}

void CFileList::focusOutEvent(QFocusEvent* event) {
    QTreeView::focusOutEvent(event);
    update();
}

int CFileList::AppendEntry(FileEntry& entry) { return AppendEntries({&entry}); }

int CFileList::AppendEntries(const std::vector<FileEntry*>& entries) {
    const int first = RowCount() + 1;
    if (entries.empty()) return first;
    model_->Append(entries);
    // The last new row is in view, as each added row has always been;
    // scrolling lays out every row, so it is done once for all the rows
    // appended before the window next draws.
    if (!scrollPending_) {
        scrollPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                scrollPending_ = false;
                if (RowCount() > 0) scrollTo(model_->index(RowCount() - 1, 0));
            },
            Qt::QueuedConnection);
    }
    return first;
}

FileEntry* CFileList::EntryAt(int row) const { return model_->Entry(row - 1); }

int CFileList::RowCount() const { return model_->rowCount(); }

std::vector<int> CFileList::SelectedRows() const {
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row + 1);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void CFileList::SelectRows(const std::vector<int>& rows) {
    QItemSelection selection;
    for (int row : rows)
        if (row >= 1 && row <= RowCount())
            selection.select(model_->index(row - 1, 0), model_->index(row - 1, kColumnCount - 1));
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

std::vector<FileEntry*> CFileList::RemoveRows(const std::vector<int>& rows) {
    std::vector<int> zeroBased;
    zeroBased.reserve(rows.size());
    for (int row : rows) zeroBased.push_back(row - 1);
    const int firstRemoved =
        zeroBased.empty() ? -1 : *std::min_element(zeroBased.begin(), zeroBased.end());
    const QModelIndex current = currentIndex();
    std::vector<FileEntry*> removed = model_->Remove(std::move(zeroBased));
    // A rebuilt list has no current row: the row that took the first
    // removed row's place becomes current, as after removing it alone.
    if (!currentIndex().isValid() && current.isValid() && RowCount() > 0 && firstRemoved >= 0)
        selectionModel()->setCurrentIndex(model_->index(std::min(firstRemoved, RowCount() - 1), 0),
                                          QItemSelectionModel::NoUpdate);
    return removed;
}

void CFileList::Clear() { model_->Clear(); }

QString CFileList::CellText(int row, int column) const { return model_->Text(row - 1, column); }

QString CFileList::CellToolTip(int row, int column) const {
    return model_->ToolTip(row - 1, column);
}

QString CFileList::HeaderText(int column) const {
    return model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

void CFileList::SetVolumeText(int row, const QString& text) {
    if (row < 1 || row > RowCount()) return;
    model_->SetText(row - 1, kColumnVolume, text);
    model_->SetToolTip(row - 1, kColumnVolume, QString());
}

void CFileList::SetVolumeTip(int row, const QString& tip) {
    if (row >= 1 && row <= RowCount()) model_->SetToolTip(row - 1, kColumnVolume, tip);
}

void CFileList::SetOutputText(int row, const QString& text) {
    const int at = row - 1;
    if (at < 0 || at >= RowCount()) return;
    const QString note = model_->ShortNote(at);
    model_->SetOutput(at, text, note);
    if (note.isEmpty() || text.isEmpty()) {
        model_->SetText(at, kColumnOutput, text);
        // A failure text can be longer than even the widened column.
        model_->SetToolTip(at, kColumnOutput, text);
        return;
    }
    model_->SetText(at, kColumnOutput, tr("%1 (来源不完整)").arg(text));
    model_->SetToolTip(at, kColumnOutput, text + u'\n' + note);
}

void CFileList::NoteShortSource(int row, double claimedSeconds, double heldSeconds) {
    const int at = row - 1;
    if (at < 0 || at >= RowCount()) return;
    const QString note = tr("来源只含 %1 的音频, 其文件头声明为 %2.")
                             .arg(DurationText(heldSeconds), DurationText(claimedSeconds));
    model_->SetOutput(at, model_->OutputText(at), note);
    model_->SetText(at, kColumnDuration, DurationText(heldSeconds));
    model_->SetToolTip(at, kColumnDuration, note);
    SetOutputText(row, model_->OutputText(at));
}

void CFileList::ClearShortSourceNote(int row) {
    const int at = row - 1;
    if (model_->ShortNote(at).isEmpty()) return;
    model_->SetOutput(at, model_->OutputText(at), QString());
    SetOutputText(row, model_->OutputText(at));
}

bool CFileList::HasShortSourceNote(int row) const { return !model_->ShortNote(row - 1).isEmpty(); }

void CFileList::ScrollToRow(int row) {
    if (row >= 1 && row <= RowCount()) scrollTo(model_->index(row - 1, 0));
}

void CFileList::SortByColumn(int column) {
    if (column < 0 || column >= kColumnCount) return;
    const Qt::SortOrder order = (column == lastColumn_ && lastOrder_ == Qt::AscendingOrder)
                                    ? Qt::DescendingOrder
                                    : Qt::AscendingOrder;
    lastColumn_ = column;
    lastOrder_ = order;
    model_->Sort(column, order);
    // The sorted column shows its arrow from the first sort on.
    header()->setSortIndicator(column, order);
    header()->setSortIndicatorShown(true);
}

}  // namespace quelvox::ui
