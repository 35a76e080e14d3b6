// quelvox-bench-translate: what showing one engine text costs per call (the
// front ends show every progress text and row the engine reports): a
// progress text, a run text with a format name, a nested failure row and a
// literal, with the English catalogue installed and with none.
//   quelvox-bench-translate [CALLS]
#include "common/FormatCatalogue.h"
#include "engine/Texts.h"
#include "l10n/Translation.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace quelvox;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long calls = argc > 1 ? std::max(1L, std::atol(argv[1])) : 200000;
    const std::vector<OutputFormatEntry> catalogue = BuildFormatCatalogue();
    const std::vector<std::pair<const char*, Text>> texts = {
        {"progress", EngineText(kConvertingPass, 42, "歌曲 - 现场版.flac")},
        {"run", EngineText(kRunText, 3, 120, FormatName(catalogue.front()))},
        {"nested", EngineText(kFailedWithDetailRow,
                              EngineText(kWriteFailedDetail, "No space left on device"))},
        {"literal", Text("歌曲 - 现场版.flac")},
    };
    for (Language language : {Language::English, Language::Chinese}) {
        UseLanguage(app, language);
        for (const auto& [name, text] : texts) {
            size_t sink = 0;
            QElapsedTimer timer;
            timer.start();
            for (long i = 0; i < calls; ++i) sink += ShowTextUtf8(text).size();
            const double ns =
                static_cast<double>(timer.nsecsElapsed()) / static_cast<double>(calls);
            std::printf("%-8s %-9s %8.0f ns/call  (%zu)\n",
                        language == Language::English ? "English" : "Chinese", name, ns,
                        sink / static_cast<size_t>(calls));
        }
    }
    return 0;
}
