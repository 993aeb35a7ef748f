#include "main/WebUIStatus.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_board_root.h"
#include "vantor/unique_fd.h"

namespace {

using vantor::test::read_text;
using vantor::test::TempBoardRoot;

struct FormatCase {
    int display;
    int current;
    int pix420;
    const char* text;
};

TEST(WebUIFormatText, MapsDisplayCodeAndSampling)
{
    const FormatCase cases[] = {
        {53, 52, 1, "2160p30-420"},
        {52, 52, 0, "2160p29.97-422"},
        {5, 5, 0, "1080p30-422"},
        {1, 1, 0, "1080p23.97-422"},
        {49, 49, 1, "2160p23.97-420"},
        {20, 20, 0, "1080i59.94-422"},
        {7, 7, 0, "720p59.94-422"},
        {42, 0, 1, "1080p59.94"},
        {0, 0, 0, "NO INPUT/"},
        {9, 42, 0, "NO INPUT/-422"},
        {-1, 0, 0, "NO INPUT/"},
        {54, 0, 0, "NO INPUT/"},
        // Only the value 1 means 4:2:0.
        {43, 43, 2, "1080p60-422"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(webui_format_text(c.display, c.current, c.pix420), c.text)
            << "display " << c.display << " current " << c.current << " 420 " << c.pix420;
    }
}

class WebUIStatusFile : public ::testing::Test {
protected:
    WebUIStatusFile() { board.make_dir("/tmp"); }
    std::string status_path() const { return board / kWebUIStatusPath; }
    TempBoardRoot board;
};

TEST_F(WebUIStatusFile, EachWriteReplacesTheWholeObject)
{
    updateWebUIstart();
    EXPECT_EQ(read_text(status_path()), R"({"dashboard_vid_input":"CAMERA-INITIALISING"})");
    updateWebUIformat();
    EXPECT_EQ(read_text(status_path()), R"({"dashboard_vid_input":"CAMERA-SETTING-FORMAT"})");
    updateWebUIStatus(53, 52, 1);
    EXPECT_EQ(read_text(status_path()), R"({"dashboard_vid_input":"2160p30-420"})");
    updateWebUIStatus(0, 0, 0);
    EXPECT_EQ(read_text(status_path()), R"({"dashboard_vid_input":"NO INPUT/"})");
}

TEST_F(WebUIStatusFile, MissingFolderIsNotAnError)
{
    TempBoardRoot bare;  // no "/tmp" below this root
    EXPECT_FALSE(write_webui_status("CAMERA-INITIALISING"));
    updateWebUIstart();  // must simply return
    EXPECT_EQ(::access((bare / kWebUIStatusPath).c_str(), F_OK), -1);
}

TEST_F(WebUIStatusFile, NamedPipeWithoutReaderDropsTheObjectWithoutBlocking)
{
    ASSERT_EQ(::mkfifo(status_path().c_str(), 0644), 0);
    EXPECT_FALSE(write_webui_status("CAMERA-INITIALISING"));
    struct stat st {};
    ASSERT_EQ(::stat(status_path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the web UI's pipe was replaced";
}

TEST_F(WebUIStatusFile, NamedPipeReaderGetsEachObjectWhole)
{
    ASSERT_EQ(::mkfifo(status_path().c_str(), 0644), 0);
    vantor::UniqueFd reader(::open(status_path().c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(reader);

    ASSERT_TRUE(write_webui_status("CAMERA-SETTING-FORMAT"));
    char buffer[256];
    const ssize_t n = ::read(reader.get(), buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)),
              R"({"dashboard_vid_input":"CAMERA-SETTING-FORMAT"})");
}

TEST_F(WebUIStatusFile, OnlyTheNewestObjectNotTakenIsRetriedAndOnlyOnce)
{
    ASSERT_EQ(::mkfifo(status_path().c_str(), 0644), 0);
    EXPECT_FALSE(write_webui_status("CAMERA-INITIALISING"));
    EXPECT_FALSE(write_webui_status("CAMERA-SETTING-FORMAT"));  // replaces the one kept
    EXPECT_FALSE(retry_webui_status());                         // still no reader

    vantor::UniqueFd reader(::open(status_path().c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(reader);
    EXPECT_TRUE(retry_webui_status());
    EXPECT_TRUE(retry_webui_status());  // nothing left: no second copy
    char buffer[256];
    const ssize_t n = ::read(reader.get(), buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)),
              R"({"dashboard_vid_input":"CAMERA-SETTING-FORMAT"})");
}

}  // namespace
