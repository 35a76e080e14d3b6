#include "common/InputType.h"

#include <gtest/gtest.h>

using namespace quelvox;

TEST(InputType, DecidedByTheFileNamesExtensionInAnyCase) {
    EXPECT_EQ(InputTypeOf("/home/u/Music/Song.MP3"), kInputMp3);
    EXPECT_EQ(InputTypeOf("track.Wave"), kInputWav);
    EXPECT_EQ(InputTypeOf("/x/tune.XM"), kInputModule);
    EXPECT_EQ(InputTypeOf("/x/tune.mo3"), kInputModule);
    EXPECT_EQ(InputTypeOf("/x/a.kar"), kInputMidi);
    EXPECT_EQ(InputTypeOf("/x/a.snd"), kInputAu);
    EXPECT_EQ(InputTypeOf("/x/a.afc"), kInputAiff);
    EXPECT_EQ(InputTypeOf("/x/Track01.cda"), kInputCdTrack);
    EXPECT_EQ(InputTypeOf("/x/a.dts"), kInputDts);
    EXPECT_EQ(InputTypeOf("/x/a.fla"), kInputFlac);
    EXPECT_EQ(InputTypeOf("/x/a.xwmv"), kInputWma);
    EXPECT_EQ(InputTypeOf("/x/a.wv"), kInputWavPack);
    EXPECT_EQ(InputTypeOf("/x/a.adx"), kInputAdx);
    EXPECT_EQ(InputTypeOf("/x/a.aac"), kInputAac);
    EXPECT_EQ(InputTypeOf("/x/a.m4b"), kInputMp4);
    EXPECT_EQ(InputTypeOf("/x/a.awb"), kInputAmr);
    EXPECT_EQ(InputTypeOf("/x/a.ogv"), kInputOgg);
}

TEST(InputType, UnknownOrMissingExtensionsAreOther) {
    EXPECT_EQ(InputTypeOf("/music/a.b/noext"), kInputOther);
    EXPECT_EQ(InputTypeOf("/music/video.mkv"), kInputOther);
    EXPECT_EQ(InputTypeOf("/music/trailingdot."), kInputOther);
    EXPECT_EQ(InputTypeOf(""), kInputOther);
    // Only the last extension counts.
    EXPECT_EQ(InputTypeOf("/m/song.mp3.bak"), kInputOther);
    EXPECT_EQ(InputTypeOf("/m/archive.tar.ogg"), kInputOgg);
}

TEST(InputType, ExtensionKeepsTheDotAndLowerCasesAsciiOnly) {
    EXPECT_EQ(ExtensionOf("/a.b/C.FLAC"), ".flac");
    EXPECT_EQ(ExtensionOf("/a.b/noext"), "");
    EXPECT_EQ(ExtensionOf("/m/歌曲.Mp3"), ".mp3");
    EXPECT_EQ(ExtensionOf("/m/.hidden"), ".hidden");
}
