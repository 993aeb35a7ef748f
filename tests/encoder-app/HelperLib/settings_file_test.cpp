#include "HelperLib/HelperLib.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_board_root.h"

namespace {

using vantor::test::read_text;
using vantor::test::TempBoardRoot;
using vantor::test::write_text;

constexpr const char* kEnc = "/etc/vantor-enc1-settings.json";

class SettingsFile : public ::testing::Test {
protected:
    SettingsFile() { board.make_dir("/etc"); }

    void store(const std::string& text) const { write_text(board / kEnc, text); }
    std::string stored() const { return read_text(board / kEnc); }
    std::string get(const char* key) const { return GetJsonString(kEnc, key); }

    TempBoardRoot board;
};

TEST_F(SettingsFile, ReadsValuesByTheFirstOccurrenceOfTheQuotedKey)
{
    store(R"({"VideoFormat":"1080p50","VideoSampleRate":"422"})");
    EXPECT_EQ(get("VideoFormat"), "1080p50");
    EXPECT_EQ(get("VideoSampleRate"), "422");
    EXPECT_EQ(get("Bandwidth"), "NULL");
    // A key's quoted form is found wherever it stands, also in a value position.
    store(R"({"Note":"Gain","Gain":"7"})");
    EXPECT_EQ(get("Gain"), "Gain");
}

TEST_F(SettingsFile, MissingFileOrKeyReadsAsNULL)
{
    EXPECT_EQ(get("VideoFormat"), "NULL");
    EXPECT_EQ(GetJsonString("/etc/no-such-file.json", "VideoFormat"), "NULL");
    EXPECT_EQ(GetJsonString(nullptr, "VideoFormat"), "NULL");
    EXPECT_EQ(GetJsonString(kEnc, nullptr), "NULL");
}

TEST_F(SettingsFile, ValueStartsTwoCharactersAfterTheKey)
{
    // A blank after the colon makes the value start at the opening quote: the value is empty.
    store(R"({"VideoFormat": "1080p50"})");
    EXPECT_EQ(get("VideoFormat"), "");
    // A bare number is not a value: reading starts after its first digit and runs to the next
    // quote.
    store(R"({"ZoomSpeed":57,"PanSpeed":"3"})");
    EXPECT_EQ(get("ZoomSpeed"), "7,");
}

TEST_F(SettingsFile, KeyAtTheVeryEndOfTheTextReadsAsNULL)
{
    store(R"({"A":"1","Key")");
    EXPECT_EQ(get("Key"), "NULL");
    store(R"({"A":"1","Key":)");
    EXPECT_EQ(get("Key"), "NULL");
    // The value position is the end of the text itself: an empty value without a closing quote.
    store(R"({"A":"1","Key":")");
    EXPECT_EQ(get("Key"), "");
}

TEST_F(SettingsFile, ValueWithoutClosingQuoteRunsToTheEndOfTheText)
{
    store("{\"VideoFormat\":\"2160p25}\n");
    EXPECT_EQ(get("VideoFormat"), "2160p25}\n");
}

TEST_F(SettingsFile, FalseConditionReturnsTrueAndDoesNotTouchTheFile)
{
    store(R"({"GainLevel":"12"})");
    struct stat before {};
    ASSERT_EQ(::stat((board / kEnc).c_str(), &before), 0);

    EXPECT_TRUE(SetJsonStringCond(kEnc, "GainLevel", "7", false));
    EXPECT_TRUE(SetJsonStringCond("/etc/no-such-file.json", "GainLevel", "7", false));

    struct stat after {};
    ASSERT_EQ(::stat((board / kEnc).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(stored(), R"({"GainLevel":"12"})");
}

TEST_F(SettingsFile, WritingChangesOnlyTheValueBytes)
{
    const std::string head = "{\n  \"Mode\":\"Auto\",\n  \"GainLevel\":\"";
    const std::string tail = "\",\n  \"Iris\":\"F2.8\", \"Other\" : [1, 2]\n}\n";
    store(head + "12" + tail);
    ASSERT_EQ(::chmod((board / kEnc).c_str(), 0664), 0);

    ASSERT_TRUE(SetJsonStringCond(kEnc, "GainLevel", "7", true));
    EXPECT_EQ(stored(), head + "7" + tail);

    ASSERT_TRUE(SetJsonStringCond(kEnc, "GainLevel", "", true));
    EXPECT_EQ(stored(), head + tail);
    ASSERT_TRUE(SetJsonStringCond(kEnc, "GainLevel", "123456", true));
    EXPECT_EQ(stored(), head + "123456" + tail);
    EXPECT_EQ(get("GainLevel"), "123456");

    struct stat st {};
    ASSERT_EQ(::stat((board / kEnc).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664U);
}

TEST_F(SettingsFile, WriteIsRefusedAndFileKeptWhenItCannotBeDoneSafely)
{
    const std::string original = R"({"Mode":"Auto","Broken":"x)";
    store(original);
    EXPECT_FALSE(SetJsonStringCond("/etc/no-such-file.json", "Mode", "Manual", true));
    EXPECT_FALSE(SetJsonStringCond(kEnc, "Missing", "1", true));
    EXPECT_FALSE(SetJsonStringCond(kEnc, "Broken", "1", true));  // no closing quote
    // Values that would end the string early or escape its closing quote.
    for (const char* bad : {"a\"b", "a\\", "line\nbreak", "tab\there"}) {
        EXPECT_FALSE(SetJsonStringCond(kEnc, "Mode", bad, true)) << bad;
    }
    EXPECT_FALSE(SetJsonStringCond(kEnc, "Mode", nullptr, true));
    EXPECT_EQ(stored(), original);
    EXPECT_FALSE(::access((board / "/etc/no-such-file.json").c_str(), F_OK) == 0);
}

// Counts the entries of a folder other than "." and "..".
size_t entry_count(const std::string& folder)
{
    size_t count = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            count += (name != "." && name != "..") ? 1 : 0;
        }
        ::closedir(dir);
    }
    return count;
}

TEST_F(SettingsFile, FailedWriteIsReportedAndLeavesFileAndFolderUnchanged)
{
    // A file-size limit makes the write fail as it would on a full disk, also for root. It is set
    // in a child process so that the test process keeps its own limits.
    const std::string original = R"({"Mode":"Auto"})";
    store(original);
    const std::string long_value(4096, 'x');
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool written = SetJsonStringCond(kEnc, "Mode", long_value.c_str(), true);
        ::_exit(written ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a failed write was reported as success";
    EXPECT_EQ(stored(), original);
    EXPECT_EQ(entry_count(board / "/etc"), 1U) << "a temporary file was left behind";
}

TEST_F(SettingsFile, ConcurrentReaderNeverSeesAPartialFile)
{
    const std::string head = R"({"ExposureMode":"Manual","Gain":")";
    const std::string tail = R"(","Shutter":"1/60","Iris":"F2.0","Bright":"5"})";
    const std::vector<std::string> values = {"0", "12", "34567", std::string(200, '9')};
    store(head + values[0] + tail);

    std::atomic<bool> writing{true};
    std::atomic<int> bad_reads{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (writing.load()) {
            const std::string text = read_text(board / kEnc);
            const bool whole = text.size() >= head.size() + tail.size() &&
                               text.compare(0, head.size(), head) == 0 &&
                               text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
            const std::string value =
                whole ? text.substr(head.size(), text.size() - head.size() - tail.size()) : "";
            if (!whole || std::find(values.begin(), values.end(), value) == values.end()) {
                bad_reads.fetch_add(1);
            }
            reads.fetch_add(1);
        }
    });
    std::vector<std::thread> writers;
    std::atomic<int> failed_writes{0};
    for (size_t w = 0; w < 3; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < 60; ++i) {
                const std::string& value = values[(w + static_cast<size_t>(i)) % values.size()];
                if (!SetJsonStringCond(kEnc, "Gain", value.c_str(), true)) {
                    failed_writes.fetch_add(1);
                }
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    writing.store(false);
    reader.join();

    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(bad_reads.load(), 0);
    EXPECT_EQ(failed_writes.load(), 0);
    EXPECT_EQ(entry_count(board / "/etc"), 1U);
}

}  // namespace
