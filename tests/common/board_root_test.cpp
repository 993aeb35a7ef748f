#include "vantor/board_root.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/temp_board_root.h"

namespace {

using vantor::board_path;
using vantor::test::ScopedEnv;

TEST(BoardRoot, UnsetOrEmptyRootLeavesSystemPathsUnchanged)
{
    {
        ScopedEnv env("VANTOR_ROOT", "");
        ::unsetenv("VANTOR_ROOT");
        EXPECT_EQ(board_path("/dev/ttyPS1"), "/dev/ttyPS1");
    }
    for (const char* root : {"", "/", "//"}) {
        ScopedEnv env("VANTOR_ROOT", root);
        EXPECT_EQ(board_path("/etc/hostname"), "/etc/hostname") << "root '" << root << "'";
    }
}

TEST(BoardRoot, PrefixesAbsolutePathsWithTheRoot)
{
    ScopedEnv env("VANTOR_ROOT", "/tmp/board");
    EXPECT_EQ(board_path("/etc/vantor-enc1-settings.json"),
              "/tmp/board/etc/vantor-enc1-settings.json");
    EXPECT_EQ(board_path(std::string("/sys/class/gpio/export")),
              "/tmp/board/sys/class/gpio/export");
}

TEST(BoardRoot, TrailingSlashesOfTheRootAreIgnored)
{
    ScopedEnv env("VANTOR_ROOT", "/tmp/board//");
    EXPECT_EQ(board_path("/dev/mem"), "/tmp/board/dev/mem");
}

TEST(BoardRoot, RelativePathsAndNullAreNotSystemPaths)
{
    ScopedEnv env("VANTOR_ROOT", "/tmp/board");
    EXPECT_EQ(board_path("relative/file"), "relative/file");
    EXPECT_EQ(board_path(""), "");
    EXPECT_EQ(board_path(static_cast<const char*>(nullptr)), "");
}

TEST(BoardRoot, RootIsReadOnEveryCall)
{
    {
        ScopedEnv env("VANTOR_ROOT", "/a");
        EXPECT_EQ(board_path("/dev/uio1"), "/a/dev/uio1");
    }
    ScopedEnv env("VANTOR_ROOT", "/b");
    EXPECT_EQ(board_path("/dev/uio1"), "/b/dev/uio1");
}

}  // namespace
