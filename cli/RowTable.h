// The file list of the command line: the texts of a row's columns, and the
// table that collects the cells a run writes and prints finished rows in
// list order. The engine's texts in the cells are translated as they come.
#pragma once

#include "engine/HostInterfaces.h"
#include "common/FileEntry.h"
#include "engine/ListCells.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quelvox::cli {

// A cell made safe for the tab-separated rows: a backslash becomes "\\",
// a tab "\t" and a line break "\n".
std::string EscapeCell(const std::string& text);

// The five columns known from adding, joined by tabs.
std::string ProbeLine(const FileEntry& entry);

// The rows of one run: entry i is row i. Cells may be written from several
// threads; rows are printed through `print` (one line, no line break) in
// list order, each once.
class CRowTable : public IRowCells {
public:
    using LinePrinter = std::function<void(const std::string& line)>;
    CRowTable(const std::vector<FileEntry*>& entries, LinePrinter print);

    void SetVolumeCell(int row, const std::string& text) override;
    void SetOutputCell(int row, const Text& text) override;
    // Rows are printed by PrintUpTo only: a merged run's rows are final
    // once it is known whether the merged file is kept.
    void ScrollToRow(int) override {}
    // Passes a line saying where the output went, and why, to the printer
    // set by SetNotePrinter.
    void NoteDocumentsFallback(int row, const std::string& path, const Text& reason) override;
    void SetNotePrinter(LinePrinter print) { note_ = std::move(print); }

    // Warns on standard error that the row's source held clearly less audio
    // than its header claims.
    void NoteShortSource(int row, double claimedSeconds, double heldSeconds) override;
    void SetWarningPrinter(LinePrinter warn) { warn_ = std::move(warn); }

    // Prints the rows before `end` that are not printed yet.
    void PrintUpTo(int end);
    // Gives every row not printed yet whose output cell is still empty (a
    // file the run never started) the output text `text`.
    void MarkUnfinished(const Text& text);
    // The seven columns of a row, joined by tabs.
    std::string Line(int row) const;
    // Whether the row's file was skipped because its target exists (the
    // output cell says "目标存在并跳过"): a skip the user chose, not a
    // failure.
    bool SkippedExisting(int row) const;

private:
    std::vector<FileEntry*> entries_;
    std::vector<std::string> volume_;
    std::vector<std::string> output_;
    std::vector<bool> skipped_;
    LinePrinter print_;
    LinePrinter warn_;
    LinePrinter note_;
    mutable std::recursive_mutex mutex_;
    int printed_ = 0;
};

}  // namespace quelvox::cli
