#include "cli/Options.h"

#include "settings/SettingDecl.h"
#include "settings/Settings.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quelvox::cli {

namespace {

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Options that take a value: long name, short letter (0 = none).
struct ValueOption {
    const char* longName;
    char shortName;
};
constexpr ValueOption kValueOptions[] = {{"format", 'f'}, {"output", 'o'}, {"merge", 0},
                                         {"set", 0},      {"jobs", 'j'},   {"lang", 0},
                                         {"loudness", 0}};

bool StoreValue(const std::string& name, const std::string& value, CliOptions& options,
                std::string& error) {
    if (name == "format") {
        options.format = value;
    } else if (name == "output") {
        if (value.empty()) {
            error = "option --output needs a folder";
            return false;
        }
        options.outputDir = value;
    } else if (name == "merge") {
        if (value.empty()) {
            error = "option --merge needs a file name";
            return false;
        }
        options.mergeFile = value;
    } else if (name == "set") {
        const size_t eq = value.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "option --set needs NAME=VALUE, not '" + value + "'";
            return false;
        }
        options.sets.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    } else if (name == "jobs") {
        if (!AllDigits(value) || value.size() > 4 || std::stoi(value) < 1) {
            error = "option --jobs needs a number from 1 to 9999, not '" + value + "'";
            return false;
        }
        options.jobs = std::stoi(value);
    } else if (name == "loudness") {
        // Whole LUFS within the setting's own range: a target the stored
        // setting would have to clamp is refused, not quietly changed.
        const SettingDecl& target = setting::LoudnessTarget;
        const bool negative = value.size() > 1 && value[0] == '-';
        const std::string digits = negative ? value.substr(1) : value;
        const int lufs = AllDigits(digits) && digits.size() <= 3
                             ? (negative ? -std::stoi(digits) : std::stoi(digits))
                             : target.maximum + 1;
        if (!target.IsValid(lufs)) {
            error = "option --loudness needs a whole number of LUFS from " +
                    std::to_string(target.minimum) + " to " + std::to_string(target.maximum) +
                    " (e.g. -16), not '" + value + "'";
            return false;
        }
        options.sets.emplace_back("VolumeType", std::to_string(kVolumeLoudness));
        options.sets.emplace_back("LoudnessTarget", std::to_string(lufs));
    } else if (name == "lang") {
        options.language = ParseLanguageName(value);
        if (!options.language) {
            error = "option --lang needs zh or en, not '" + value + "'";
            return false;
        }
    }
    return true;
}

bool SetFlag(const std::string& name, CliOptions& options) {
    if (name == "list-formats")
        options.listFormats = true;
    else if (name == "probe")
        options.probe = true;
    else if (name == "quiet")
        options.quiet = true;
    else if (name == "verbose")
        options.verbose = true;
    else if (name == "browse")
        options.browse = true;
    else if (name == "album")
        options.sets.emplace_back("LoudnessAlbum", "1");
    else if (name == "replaygain")
        options.sets.emplace_back("WriteReplayGain", "1");
    else if (name == "limiter")
        options.sets.emplace_back("LoudnessLimiter", "1");
    else if (name == "no-limiter")
        options.sets.emplace_back("LoudnessLimiter", "0");
    else if (name == "help")
        options.help = true;
    else if (name == "version")
        options.version = true;
    else
        return false;
    return true;
}

}  // namespace

bool ParseArguments(int argc, char** argv, CliOptions& options, std::string& error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.paths.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name;
        std::string value;
        bool hasValue = false;
        if (arg[1] == '-') {
            name = arg.substr(2);
            const size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.erase(eq);
                hasValue = true;
            }
        } else {
            const char letter = arg[1];
            static const struct {
                char letter;
                const char* name;
            } shortFlags[] = {{'q', "quiet"}, {'v', "verbose"}, {'h', "help"}};
            bool found = false;
            for (const auto& f : shortFlags) {
                if (f.letter == letter && arg.size() == 2) {
                    name = f.name;
                    found = true;
                }
            }
            for (const ValueOption& o : kValueOptions) {
                if (o.shortName && o.shortName == letter) {
                    name = o.longName;
                    found = true;
                    if (arg.size() > 2) {
                        value = arg.substr(2);
                        hasValue = true;
                    }
                }
            }
            if (!found) {
                error = "unknown option '" + arg + "'";
                return false;
            }
        }

        // The one flag that may carry a value, and only after '='.
        if (name == "keep-tree") {
            options.keepTree = true;
            if (!hasValue) continue;
            if (value == "added") {
                options.keepTreeFrom = kTreeFromAddedFolder;
            } else if (value == "full") {
                options.keepTreeFrom = kTreeFromWholePath;
            } else {
                error = "option --keep-tree takes added or full, not '" + value + "'";
                return false;
            }
            continue;
        }
        const ValueOption* valueOption = nullptr;
        for (const ValueOption& o : kValueOptions)
            if (name == o.longName) valueOption = &o;
        if (valueOption) {
            if (!hasValue) {
                if (i + 1 >= argc) {
                    error = "option '" + arg + "' needs a value";
                    return false;
                }
                value = argv[++i];
            }
            if (!StoreValue(name, value, options, error)) return false;
            continue;
        }
        if (hasValue || !SetFlag(name, options)) {
            error = "unknown option '" + arg + "'";
            return false;
        }
    }
    return true;
}

const OutputFormatEntry* FindFormatArgument(const std::vector<OutputFormatEntry>& catalogue,
                                            const std::string& text) {
    if (AllDigits(text)) {
        if (text.size() > 6) return nullptr;
        return FindFormat(catalogue, std::stoi(text));
    }
    std::string ext = Lower(text);
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    if (ext.empty()) return nullptr;
    for (const OutputFormatEntry& entry : catalogue)
        if (ext == entry.extension) return &entry;
    return nullptr;
}

std::string UsageText(const std::string& cancelledText) {
    const SettingDecl& target = setting::LoudnessTarget;
    return std::string("Usage: quelvox-cli [options] FILE|FOLDER...\n") +
           "Convert audio files (and the audio tracks of video files) with the stored\n"
           "Quelvox settings. Folders are searched with their subfolders, using the\n"
           "stored extension filter and hidden-file rule; files named directly are\n"
           "taken as they are. Nothing given here is stored.\n"
           "\n"
           "Options:\n"
           "  -f, --format FORMAT  output format: a code (1000) or an extension (mp3);\n"
           "                       see --list-formats\n"
           "  -o, --output DIR     write the outputs into DIR\n"
           "      --keep-tree[=added|full]\n"
           "                       below the output folder, repeat each source's folders:\n"
           "                       added: from the FOLDER given, its own name first\n"
           "                       (files given directly go straight into DIR); full:\n"
           "                       the source's whole path. Without a value, as the\n"
           "                       stored setting CreateDirsFrom says (default: added)\n"
           "      --merge FILE     join all files, in order, into FILE\n"
           "      --set NAME=VALUE use VALUE for the stored setting NAME in this run\n"
           "                       (e.g. --set MP3AutoEncParam=0 --set MP3BitRate=192000:\n"
           "                       MP3 at 192 kbit/s instead of the automatic choice)\n"
           "      --loudness LUFS  bring every output to LUFS integrated loudness (EBU\n"
           "                       R128, " + std::to_string(target.minimum) + " to " +
           std::to_string(target.maximum) + "), its true peak kept at or below the\n"
           "                       stored TruePeakCeiling (tenths of dBTP, default " +
           std::to_string(setting::TruePeakCeiling.intDefault) + ");\n"
           "                       same as --set VolumeType=" + std::to_string(kVolumeLoudness) +
           " --set LoudnessTarget=LUFS\n"
           "      --no-limiter     keep the true peak under the ceiling by the gain alone\n"
           "                       (a file whose peaks are too high then stays short of\n"
           "                       the target, said on standard error); by default a\n"
           "                       true-peak limiter holds the peaks and every file\n"
           "                       reaches the target (--limiter; --set LoudnessLimiter)\n"
           "      --album          measure all files as one album: one gain for all, and\n"
           "                       album values in ReplayGain tags (--set LoudnessAlbum=1)\n"
           "      --replaygain     write ReplayGain 2.0 tags describing each output, the\n"
           "                       audio unchanged by them (--set WriteReplayGain=1)\n"
           "  -j, --jobs N         convert N files at once, 1 to 9999, but never more\n"
           "                       than four per processor (default: the stored\n"
           "                       SimultaneousFiles, the number of processors)\n"
           "      --lang zh|en     show rows and messages in Chinese or English (default:\n"
           "                       the stored Language, else the locale: LANGUAGE,\n"
           "                       LC_ALL, LC_MESSAGES, LANG)\n"
           "      --list-formats   list the output formats and exit\n"
           "      --probe          list the files with duration, bit rate, rate and\n"
           "                       channels, convert nothing\n"
           "  -q, --quiet          no progress display\n"
           "  -v, --verbose        also show the decoding libraries' own messages\n"
           "      --browse         open the first output's folder when done\n"
           "  -h, --help           show this help and exit\n"
           "      --version        show the version and exit\n"
           "\n"
           "Each file gets one line on standard output: file, duration, bit rate,\n"
           "sample rate, channels, volume and the output file or the failure, separated\n"
           "by tabs. In these fields a tab is written as \\t, a line break as \\n and\n"
           "a backslash as \\\\. Files never started because of Ctrl+C show " +
           cancelledText +
           ".\n"
           "Progress and messages go to standard error; every file that could not be\n"
           "added is named there with the reason.\n"
           "\n"
           "Exit status: 0 when every file was converted or skipped because its target\n"
           "exists (TargetExistsOpt 33), 1 when a file could not be added or\n"
           "converted, the run was cancelled (Ctrl+C) or standard output could not be\n"
           "written, 2 on wrong usage.\n";
}

}  // namespace quelvox::cli
