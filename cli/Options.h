// Command-line arguments of quelvox-cli.
#pragma once

#include "common/FormatCatalogue.h"
#include "l10n/Language.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quelvox::cli {

struct CliOptions {
    std::string format;     // -f: catalogue code or extension; empty = stored format
    std::string outputDir;  // -o: empty = stored output folder
    bool keepTree = false;  // --keep-tree
    // --keep-tree=added|full: where the tree starts (CreateDirsFrom); none =
    // the stored setting.
    std::optional<int> keepTreeFrom;
    std::string mergeFile;  // --merge: empty = one output per file
    std::vector<std::pair<std::string, std::string>> sets;  // --set NAME=VALUE, in order
    int jobs = 0;                                           // -j: 0 = number of processors
    std::optional<Language> language;  // --lang: none = the setting, then the locale
    bool listFormats = false;
    bool probe = false;
    bool quiet = false;
    bool verbose = false;  // -v: the libraries' own log lines on stderr
    bool browse = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> paths;
};

// Reads argv. False, with `error` saying why, on wrong usage. Options and
// paths may be mixed; "--" ends the options. Values come as the next
// argument, as "--name=value", or glued to a short option ("-j4").
bool ParseArguments(int argc, char** argv, CliOptions& options, std::string& error);

// The catalogue entry an -f argument names: digits pick the entry of that
// code; anything else is an extension (a leading dot and letter case
// ignored), and the first entry in catalogue order with that extension is
// taken. Null when nothing matches.
const OutputFormatEntry* FindFormatArgument(const std::vector<OutputFormatEntry>& catalogue,
                                            const std::string& text);

// The --help text; `cancelledText` is the row text of files never started.
std::string UsageText(const std::string& cancelledText);

}  // namespace quelvox::cli
