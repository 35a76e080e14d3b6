// quelvox-bench-translate: what the translation of a shown engine text
// costs per call (the front ends translate every progress text they show),
// for texts the lookup recognises and for one it passes through, with the
// English catalogue installed and with none.
//   quelvox-bench-translate [CALLS]
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
    const std::vector<std::pair<const char*, std::string>> texts = {
        {"progress", "[42%] 正在转换 歌曲 - 现场版.flac..."},
        {"run", "转换 3 of 120 文件到 M4R (iPhone 铃音)..."},
        {"nested", "转换失败 (无法写入输出文件: No space left on device)"},
        {"unknown", "歌曲 - 现场版.flac"},
        {"ascii", "a_1.mp3"},
    };
    for (Language language : {Language::English, Language::Chinese}) {
        UseLanguage(app, language);
        for (const auto& [name, text] : texts) {
            size_t sink = 0;
            QElapsedTimer timer;
            timer.start();
            for (long i = 0; i < calls; ++i) sink += TranslateEngineTextUtf8(text).size();
            const double ns =
                static_cast<double>(timer.nsecsElapsed()) / static_cast<double>(calls);
            std::printf("%-8s %-9s %8.0f ns/call  (%zu)\n",
                        language == Language::English ? "English" : "Chinese", name, ns,
                        sink / static_cast<size_t>(calls));
        }
    }
    return 0;
}
