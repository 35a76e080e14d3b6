// Helpers for the decoding layer's tests: a runtime with every add-on, and
// rendering a channel to its end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bass/BassRuntime.h"

namespace testsupport {

// An initialised runtime with every add-on the decoding layer knows loaded.
inline quelvox::bass::CBassRuntime RuntimeWithAllAddOns() {
    quelvox::bass::CBassRuntime rt;
    rt.Init();
    for (const char* name : {"bassflac.dll", "basscd.dll", "basswv.dll", "bass_aac.dll",
                             "bass_adx.dll", "bass_alac.dll"})
        rt.PluginLoad(name);
    return rt;
}

// A tag record as one text: the nine values joined by line feeds in the
// order track, title, artist, album, genre, year, comment, composer,
// copyright; empty when every value is.
inline std::string JoinedTags(const quelvox::TagInfo& t) {
    if (t.IsEmpty()) return {};
    return t.track + '\n' + t.title + '\n' + t.artist + '\n' + t.album + '\n' + t.genre + '\n' +
           t.year + '\n' + t.comment + '\n' + t.composer + '\n' + t.copyright;
}

// Everything a channel delivered: interleaved 16-bit stereo samples and the
// byte count.
struct Rendered {
    std::vector<int16_t> samples;
    uint64_t bytes = 0;
};

// Renders a 16-bit stereo channel to its end in blocks of 1152 frames. With
// `checkBlocks`, every block must hold whole frames and the position must
// follow the bytes delivered.
inline Rendered RenderAll(quelvox::bass::CChannel& ch, bool checkBlocks = false) {
    Rendered r;
    std::vector<int16_t> block(1152 * 2);
    for (;;) {
        int n = ch.GetData(block.data(), uint32_t(block.size() * 2));
        if (n < 0) break;
        r.bytes += uint64_t(n);
        r.samples.insert(r.samples.end(), block.begin(), block.begin() + n / 2);
        if (checkBlocks) {
            EXPECT_EQ(n % 4, 0);
            EXPECT_EQ(ch.GetPosition(), r.bytes);
        }
    }
    return r;
}

}  // namespace testsupport
