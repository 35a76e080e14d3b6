// quelvox-cli: the terminal front end of the converter. It adds the given
// files and folders as the main window's batch step does and converts them
// with the stored settings. It never opens a window, never runs the
// first-start step and never stores a setting.
#include "cli/Options.h"
#include "cli/RowTable.h"
#include "cli/Run.h"
#include "cli/Console.h"
#include "engine/CodecRuntime.h"
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
    // The first output's folder is opened only when asked for here.
    settings.BrowseOutputFolder = options.browse ? 1 : 0;
    return true;
}

// The format of -f, else the stored one (MP3 when that is unknown); null
// for an unknown -f.
const OutputFormatEntry* ChosenFormat(const CliOptions& options, CSession& session) {
    if (!options.format.empty()) return FindFormatArgument(session.Catalogue(), options.format);
    const OutputFormatEntry* format = FindFormat(session.Catalogue(), session.Settings().OutputFormat);
    return format ? format : FindFormat(session.Catalogue(), kFormatMp3);
}

// Converts the listed `entries` to `format` as the options say and prints
// their rows; the exit status.
int Convert(CSession& session, const CliOptions& options, const OutputFormatEntry& format,
            const std::vector<FileEntry*>& entries, bool allAdded, CConsole& console) {
    CRowTable rows(entries, [&](const std::string& line) { console.PrintRow(line); });
    rows.SetNotePrinter([&](const std::string& line) { console.Warn(line); });
    rows.SetWarningPrinter([&](const std::string& text) { console.Warn(text); });
    RunRequest request;
    request.entries = entries;
    request.format = &format;
    // Without -j, the stored number of files converted at once.
    request.jobs = options.jobs > 0 ? options.jobs : FilesAtOnce(session.Settings());
    request.merged = !options.mergeFile.empty();
    CCliPlanHost host(console);
    RunPlan plan;
    std::vector<Text> notes;
    const bool runs = session.PlanRun(request, host, rows, [&] { return options.mergeFile; },
                                      plan, nullptr, &notes);
    for (const Text& note : notes) console.Warn(note);
    RunOutcome outcome;
    if (runs) outcome = CarryOut(session, std::move(plan), console, rows, options.verbose);
    // Files the run never started because of Ctrl+C.
    const bool cancelled = g_cancel.load();
    if (cancelled) rows.MarkUnfinished(EngineText(kCancelledRow));
    rows.PrintUpTo(static_cast<int>(entries.size()));

    // A file skipped because its target exists did what the user chose.
    bool allConverted = allAdded && !cancelled;
    for (size_t i = 0; i < entries.size(); ++i)
        allConverted = allConverted && (!entries[i]->OutputPath.empty() ||
                                         rows.SkippedExisting(static_cast<int>(i)));
    if (!outcome.browsePath.empty()) OpenContainingFolder(outcome.browsePath, console);
    return allConverted ? kExitConverted : kExitFailed;
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

    if (options.listFormats) {
        ListFormats(BuildFormatCatalogue(), console);
        return kExitConverted;
    }
    if (options.paths.empty()) return UsageError("no files or folders given");

    InstallInterruptHandler();
    if (options.verbose) SetLibraryLogSink(PrintLibraryLine);

    CCodecRuntime runtime;
    switch (runtime.Start(ExecutableFolder())) {
        case StartResult::Started: break;
        case StartResult::InitFailed: console.Warn(EngineText(kInitFailedMessage)); return kExitFailed;
    }
    CSession session(runtime, {}, &g_cancel);
    if (!ApplyRunSettings(options, session.Settings(), session.Catalogue(), error))
        return UsageError(error);
    const OutputFormatEntry* format = ChosenFormat(options, session);
    if (!format) return UsageError("unknown output format '" + options.format + "'");

    std::vector<FileEntry*> entries;
    const AddOutcome added = AddArguments(session, options.paths, console, entries);
    if (added.stopped || g_cancel.load()) return kExitFailed;
    if (entries.empty()) {
        if (added.result.failed == 0) console.Warn("no files to convert");
        return kExitFailed;
    }
    if (options.probe) {
        for (const FileEntry* entry : entries) console.PrintRow(ProbeLine(*entry));
        return added.result.failed == 0 ? kExitConverted : kExitFailed;
    }

    return Convert(session, options, *format, entries, added.result.failed == 0, console);
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
