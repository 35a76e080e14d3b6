// quelvox-cli: the terminal front end of the converter. It adds the given
// files and folders as the main window's batch step does and converts them
// with the stored settings. It never opens a window, never runs the
// first-start step and never stores a setting.
#include "cli/Options.h"
#include "cli/Rows.h"
#include "cli/Run.h"
#include "cli/Terminal.h"
#include "engine/AddFiles.h"
#include "engine/Startup.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"
#include "platform/LibraryLog.h"
#include "settings/Settings.h"

#include <QCoreApplication>

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>

extern char** environ;

namespace {

using namespace quelvox;
using namespace quelvox::cli;
namespace fs = std::filesystem;

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Set by Ctrl+C (and SIGTERM, and SIGHUP when the terminal goes away);
// every progress sink reads it as its cancel button.
std::atomic<bool> g_cancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { g_cancel.store(true); }

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Every Ctrl+C only asks again: the conversion in hand stops at its next
    // block and removes what it wrote, so nothing half-written stays behind.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

// quelvox-cli -v: the libraries' own log lines, as they come.
void PrintLibraryLine(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

int UsageError(const std::string& message) {
    std::fprintf(stderr, "quelvox-cli: %s\nTry 'quelvox-cli --help' for more information.\n",
                 message.c_str());
    return kExitUsage;
}

// The list the batch step fills: the entries live in the path map, which
// outlives the list.
class CEntryList : public IFileList {
public:
    int AppendRow(const FileEntry& entry) override {
        entries_.push_back(const_cast<FileEntry*>(&entry));
        return static_cast<int>(entries_.size());
    }
    const std::vector<FileEntry*>& Entries() const { return entries_; }

private:
    std::vector<FileEntry*> entries_;
};

// Opens the folder of `path` in the desktop's file manager; does not wait.
void OpenContainingFolder(const std::string& path, CConsole& console) {
    const fs::path parent = fs::path(path).parent_path();
    const std::string folder = parent.empty() ? std::string(1, '.') : parent.string();
    char program[] = "xdg-open";
    std::vector<char> argument(folder.begin(), folder.end());
    argument.push_back('\0');
    char* argv[] = {program, argument.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0)
        console.Warn("cannot start xdg-open for \"" + folder + "\"");
}

void ListFormats(const std::vector<OutputFormatEntry>& catalogue, CConsole& console) {
    for (const OutputFormatEntry& entry : catalogue) {
        console.PrintRow(std::to_string(entry.code) + '\t' + entry.extension + '\t' +
                         ShowTextUtf8(FormatName(entry)));
    }
}

// The language of this run: --lang, else the stored Language (with this
// run's --set), else the locale. Reads the stored settings without the
// documents folder step, so --help and --list-formats create nothing.
Language RunLanguage(const CliOptions& options) {
    CSettings stored("");
    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    LoadSettings(stored, catalogue);
    for (const auto& [name, value] : options.sets) SetSettingByName(stored, catalogue, name, value);
    return ChooseLanguage(options.language, stored.Language);
}

// Applies --set, -o and --keep-tree to the loaded settings; false (with
// `error`) for an unknown name or a bad value.
bool ApplyRunSettings(const CliOptions& options, CSettings& settings,
                      std::vector<OutputFormatEntry>& catalogue, std::string& error) {
    for (const auto& [name, value] : options.sets) {
        if (SetSettingByName(settings, catalogue, name, value)) continue;
        if (!GetSettingByName(settings, catalogue, name))
            error = "unknown setting '" + name + "'";
        else
            error = "invalid value '" + value + "' for setting '" + name + "'";
        return false;
    }
    if (!options.outputDir.empty()) {
        std::error_code ec;
        fs::path folder = fs::absolute(options.outputDir, ec);
        if (ec) folder = options.outputDir;
        settings.DestOutputFolderOpt = kOutputToSpecifiedFolder;
        settings.DestSpecifiedFolder = folder.lexically_normal().string();
        settings.CreateDirs = options.keepTree ? 1 : 0;
    } else if (options.keepTree) {
        settings.CreateDirs = 1;
    }
    if (options.keepTreeFrom) settings.CreateDirsFrom = *options.keepTreeFrom;
    return true;
}

// Everything after the command line was read; returns the exit status.
int Run(int argc, char** argv, const CliOptions& options, CConsole& console) {
    std::string error;
    // Qt's translators need an application object; it lives as long as the
    // run.
    QCoreApplication app(argc, argv);
    UseLanguage(app, RunLanguage(options));
    if (options.help) {
        console.Print(UsageText(ShowTextUtf8(EngineText(kCancelledRow))));
        return kExitConverted;
    }
    if (options.version) {
        console.PrintRow(std::string("quelvox-cli ") + kProductVersionText);
        return kExitConverted;
    }

    std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    if (options.listFormats) {
        ListFormats(catalogue, console);
        return kExitConverted;
    }
    if (options.paths.empty()) return UsageError("no files or folders given");

    CSettings settings;
    LoadSettings(settings, catalogue);
    if (!ApplyRunSettings(options, settings, catalogue, error)) return UsageError(error);
    const OutputFormatEntry* format = nullptr;
    if (!options.format.empty()) {
        format = FindFormatArgument(catalogue, options.format);
        if (!format) return UsageError("unknown output format '" + options.format + "'");
    } else {
        format = FindFormat(catalogue, settings.OutputFormat);
        if (!format) format = FindFormat(catalogue, kFormatMp3);
    }
    // Without -j, the stored number of files converted at once.
    const int jobs = options.jobs > 0 ? options.jobs : FilesAtOnce(settings);

    InstallInterruptHandler();
    if (options.verbose) SetLibraryLogSink(PrintLibraryLine);

    CCodecRuntime runtime;
    switch (runtime.Start(ExecutableFolder())) {
        case StartResult::Started: break;
        case StartResult::InitFailed: console.Warn(EngineText(kInitFailedMessage)); return kExitFailed;
    }

    // The MIDI soundfont is loaded by the run, and only when it converts a
    // MIDI file (listing one needs no font). When it is missing, the run
    // asks (and we answer No).
    RunState state;
    // A file converting alone may decode ahead on a second processor.
    state.processors = DefaultSimultaneousFiles();
    WmaFormatList wmaFormats;
    CCliPlanHost host(console);
    CRunReaderServices readers(runtime, wmaFormats, &host);
    // CUE sheets are read when they are added, in the tag code page this
    // run's settings choose.
    runtime.Bass().SetTagCodePage(settings.TagCodePage);

    // Adding: folders are searched like a dropped folder, files named
    // directly are taken as the open-file dialog takes them.
    // Each file found in a folder remembers that folder, where a kept tree
    // can start; a file named directly has none.
    std::vector<std::string> paths;
    std::vector<std::string> roots;
    std::vector<std::string> unreadableFolders;
    std::vector<std::string> linkLoops;
    for (const std::string& item : options.paths) {
        std::error_code ec;
        if (fs::is_directory(item, ec)) {
            SearchFolder(item, settings, paths, nullptr, &unreadableFolders, &roots, &linkLoops);
        } else {
            paths.push_back(item);
            roots.resize(paths.size());
        }
    }
    for (const std::string& folder : unreadableFolders)
        console.Warn(folder + ": folder not readable, skipped");
    for (const std::string& link : linkLoops) console.Warn(EngineText(kLinkLoopSkippedNote, link));
    std::map<std::string, FileEntry> pathMap;
    CEntryList list;
    CSharedProgress adding(g_cancel);
    adding.SetPumpHandler([&] { console.DrawStatus(StatusLines(adding.Read(), false)); });
    // The status stays drawn while a slow file is probed.
    AddPathListOptions addOptions;
    addOptions.waiting = [&] { console.DrawStatus(StatusLines(adding.Read(), false)); };
    const AddPathListResult added =
        AddPathList(readers, pathMap, list, paths, &adding, &roots, addOptions);
    console.ClearStatus();
    if (!added.message.empty()) console.Warn(added.message);
    // The message above lists at most 30 files; here every one, with why.
    for (const AddPathListResult::Failure& failure : added.failures)
        console.Warn(failure.path + ": not added: " + ShowTextUtf8(failure.reason));
    if (added.cancelled || g_cancel.load()) return kExitFailed;

    const std::vector<FileEntry*>& entries = list.Entries();
    if (entries.empty()) {
        if (added.failed == 0) console.Warn("no files to convert");
        return kExitFailed;
    }
    if (options.probe) {
        for (const FileEntry* entry : entries) console.PrintRow(ProbeLine(*entry));
        return added.failed == 0 ? kExitConverted : kExitFailed;
    }

    CRowTable rows(entries, [&](const std::string& line) { console.PrintRow(line); });
    rows.SetNotePrinter([&](const std::string& line) { console.Warn(line); });
    rows.SetWarningPrinter([&](const std::string& text) { console.Warn(text); });
    RunEnvironment env{settings, runtime, readers, wmaFormats, state};
    // The plan: the runtimes' questions first, then the merge file's name.
    RunPlan plan;
    plan.entries = entries;
    plan.format = format;
    plan.jobs = jobs;
    plan.merged = !options.mergeFile.empty();
    bool runs = SettleRunRuntimes(env, host, entries, *format);
    if (runs && plan.merged) {
        plan.target = SettleMergedTarget(options.mergeFile, *format, entries,
                                         settings.TargetExistsOpt, false);
        for (const Text& note : plan.target.notes) console.Warn(note);
        if (plan.target.path.empty()) {
            // A refused target: every row says why nothing was merged.
            for (size_t row = 0; row < entries.size(); ++row)
                rows.SetOutputCell(static_cast<int>(row), plan.target.refusal);
            runs = false;
        }
    }
    if (runs) CarryOut(settings, runtime, wmaFormats, state, std::move(plan), console, rows,
                       options.verbose, g_cancel);
    // Files the run never started because of Ctrl+C.
    if (g_cancel.load()) rows.MarkUnfinished(EngineText(kCancelledRow));
    rows.PrintUpTo(static_cast<int>(entries.size()));

    const bool cancelled = g_cancel.load();
    // A file skipped because its target exists did what the user chose.
    bool allConverted = added.failed == 0 && !cancelled;
    for (size_t i = 0; i < entries.size(); ++i)
        allConverted = allConverted && (!entries[i]->OutputPath.empty() ||
                                         rows.SkippedExisting(static_cast<int>(i)));

    if (options.browse && !cancelled) {
        for (const FileEntry* entry : entries) {
            std::error_code ec;
            if (!entry->OutputPath.empty() && fs::is_regular_file(entry->OutputPath, ec)) {
                OpenContainingFolder(entry->OutputPath, console);
                break;
            }
        }
    }
    return allConverted ? kExitConverted : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // A reader that went away (`| head -1`) or a file size limit must not
    // kill the program in the middle of a write: the write fails instead.
    // Standard output is then reported as unwritable, an output that cannot
    // grow fails its file, and no unfinished output is left behind.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    CliOptions options;
    std::string error;
    if (!ParseArguments(argc, argv, options, error)) return UsageError(error);
    CConsole console(!options.quiet && ::isatty(STDERR_FILENO));
    const int status = Run(argc, argv, options, console);
    // Rows (or a listing) that could not be written are no success.
    const std::string failure = console.FinishOutput();
    if (failure.empty()) return status;
    std::fprintf(stderr, "quelvox-cli: cannot write to standard output: %s\n", failure.c_str());
    return status == kExitConverted ? kExitFailed : status;
}
