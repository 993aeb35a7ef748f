#include "vantor/file_io.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_board_root.h"

namespace {

using vantor::test::read_text;
using vantor::test::TempDir;
using vantor::test::write_text;

std::vector<std::string> entries(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

mode_t mode_of(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(ReplaceFileAtomically, ReplacesContentKeepsModeAndLeavesNoTemporaryFile)
{
    TempDir dir;
    const std::string file = dir / "settings.json";
    write_text(file, "old content that is longer");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);

    ASSERT_TRUE(vantor::replace_file_atomically(file, "new"));

    EXPECT_EQ(read_text(file), "new");
    EXPECT_EQ(mode_of(file), 0640U);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"settings.json"});
}

TEST(ReplaceFileAtomically, CreatesAMissingFileWithMode0644)
{
    TempDir dir;
    const std::string file = dir / "status";
    ASSERT_TRUE(vantor::replace_file_atomically(file, "{}"));
    EXPECT_EQ(read_text(file), "{}");
    EXPECT_EQ(mode_of(file), 0644U);
}

TEST(ReplaceFileAtomically, ReplacesTheTargetOfASymbolicLinkAndKeepsTheLink)
{
    TempDir dir;
    const std::string target = dir / "real.json";
    const std::string link = dir / "link.json";
    write_text(target, "before");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);

    ASSERT_TRUE(vantor::replace_file_atomically(link, "after"));

    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_text(target), "after");
}

TEST(ReplaceFileAtomically, RefusesMissingFoldersAndNonRegularFiles)
{
    TempDir dir;
    EXPECT_FALSE(vantor::replace_file_atomically(dir / "no-such-folder/file", "x"));

    const std::string folder = dir / "a-folder";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(vantor::replace_file_atomically(folder, "x"));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"a-folder"});
    EXPECT_TRUE(entries(folder).empty());
}

TEST(ReadFile, ReadsWholeFilesAndRefusesWhatIsNotARegularFile)
{
    TempDir dir;
    std::string content = "left over";
    EXPECT_FALSE(vantor::read_file(dir / "missing", content));
    EXPECT_TRUE(content.empty());

    const std::string big(100000, 'x');
    write_text(dir / "big", big);
    ASSERT_TRUE(vantor::read_file(dir / "big", content));
    EXPECT_EQ(content, big);

    // A FIFO without a writer would block a plain open or read for ever.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(vantor::read_file(fifo, content));
    EXPECT_FALSE(vantor::read_file(dir.path(), content));
}

}  // namespace
