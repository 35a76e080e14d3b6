#include "platform/DataFolders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/TestSupport.h"

namespace quelvox {
namespace {

using testsupport::ScopedEnv;

TEST(DataFolders, ProgramThenUserThenSystemFolders) {
    ScopedEnv home("HOME", "/home/ann");
    ScopedEnv dataHome("XDG_DATA_HOME", nullptr);
    ScopedEnv dataDirs("XDG_DATA_DIRS", "/opt/share:relative/ignored:/usr/share/:/opt/share");
    EXPECT_EQ(DataFolders("/opt/quelvox/bin"),
              (std::vector<std::string>{"/opt/quelvox/bin", "/home/ann/.local/share/quelvox",
                                        "/opt/share/quelvox", "/usr/share/quelvox"}));
    {
        ScopedEnv unsetDirs("XDG_DATA_DIRS", nullptr);
        ScopedEnv customHome("XDG_DATA_HOME", "/data/ann");
        EXPECT_EQ(UserDataFolder(), "/data/ann/quelvox");
        EXPECT_EQ(DataFolders(""),
                  (std::vector<std::string>{"/data/ann/quelvox", "/usr/local/share/quelvox",
                                            "/usr/share/quelvox"}));
    }
}

TEST(DataFolders, FindsTheFirstFolderHoldingTheFile) {
    testsupport::TempDir dir;
    const std::string program = dir.file("bin"), user = dir.file("user"), system = dir.file("sys");
    for (const std::string& folder : {program, user + "/quelvox", system + "/quelvox"})
        std::filesystem::create_directories(folder);
    ScopedEnv dataHome("XDG_DATA_HOME", user.c_str());
    ScopedEnv dataDirs("XDG_DATA_DIRS", system.c_str());

    EXPECT_EQ(FindDataFile(program, "ct4mgm.sf2"), "");
    std::ofstream(system + "/quelvox/ct4mgm.sf2") << "sf";
    EXPECT_EQ(FindDataFile(program, "ct4mgm.sf2"), system + "/quelvox/ct4mgm.sf2");
    std::ofstream(user + "/quelvox/ct4mgm.sf2") << "sf";
    EXPECT_EQ(FindDataFile(program, "ct4mgm.sf2"), user + "/quelvox/ct4mgm.sf2");
    // A folder of that name is not the file.
    std::filesystem::create_directories(program + "/ct4mgm.sf2");
    EXPECT_EQ(FindDataFile(program, "ct4mgm.sf2"), user + "/quelvox/ct4mgm.sf2");
}

}  // namespace
}  // namespace quelvox
