// The encoder application as a process on a temporary board with the camera-module and encoder
// simulators: its start-up, the main loop's format transitions, SIGINT in every phase and the
// orderly exit when the encoder stalls, all read from its standard output.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/board_tools.h"
#include "support/camera_sim.h"
#include "support/inotify_count.h"
#include "support/speedhq_sim.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"
#include "vantor/file_io.h"
#include "vantor/unique_fd.h"

namespace {

using vantor::test::tools_first_in_path;
using vantor::test::write_tool;

using namespace std::chrono_literals;
using vantor::test::CameraSimProcess;
using vantor::test::read_text;
using vantor::test::ScopedEnv;
using vantor::test::SpeedHqSimProcess;
using vantor::test::TempBoardRoot;
using vantor::test::TempDir;
using vantor::test::write_text;
using Lines = std::vector<std::string>;

constexpr auto kDeadline = 60s;
constexpr const char* kSettings = "/etc/vantor-enc1-settings.json";
constexpr const char* kDashboard = "/tmp/vantor-dashboard-pipe";

// The shutdown lines, in their order, after the main loop (or a failed bring-up).
const Lines kShutdown = {
    "STOP ndi_tally_thread",    "STOP camcontrol_ndi_thread", "STOP camcontrol_webui_thread",
    "unmap_NdiTransmitter_mem", "NDIlib_destroy()",           "End Nimbo 4k enc app"};

// A failed frame wait prints "err " without a line break: such words at the start of a line
// belong to the line before.
std::string without_err_words(std::string line)
{
    while (line.rfind("err ", 0) == 0) {
        line.erase(0, 4);
    }
    return line;
}

std::string settings_text(const std::string& format, const std::string& sampling)
{
    return R"({"VideoFormat":")" + format + R"(","VideoSampleRate":")" + sampling + R"("})";
}

// The web UI rewrites a settings file in place: truncated, then written piece by piece. A rewrite
// (about 180 ms) lasts well under one 500 ms loop pass and the next one starts more than a pass
// later, so no two passes in a row find the file torn, while some single passes do.
constexpr int kRewritePieces = 3;
constexpr auto kRewritePiecePause = 60ms;
constexpr auto kBetweenRewrites = 900ms;
constexpr int kRewrites = 8;

void rewrite_in_place(const std::string& path, const std::string& text)
{
    const vantor::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    ASSERT_TRUE(fd);
    const std::size_t piece = (text.size() + kRewritePieces - 1) / kRewritePieces;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        std::this_thread::sleep_for(kRewritePiecePause);
        ASSERT_TRUE(vantor::write_all(fd.get(), std::string_view(text).substr(at, piece)));
    }
}

// Whether the thread whose "/proc/.../status" text is `status` has SIGINT blocked.
bool blocks_sigint(const std::string& status)
{
    const std::string field = "\nSigBlk:";
    const std::size_t at = status.find(field);
    if (at == std::string::npos) {
        return false;
    }
    const unsigned long long mask = std::strtoull(status.c_str() + at + field.size(), nullptr, 16);
    return ((mask >> (SIGINT - 1)) & 1U) != 0;
}

// The web UI's end of the dashboard pipe: everything read from it, collected.
class DashboardPipeReader {
public:
    explicit DashboardPipeReader(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    bool open() const { return static_cast<bool>(m_fd); }
    // What came after the filler of fill().
    std::string received() const { return m_received.substr(m_received.find_last_of(kFiller) + 1); }

    // Fills the pipe as a reader that has stopped reading leaves it: every write is refused.
    static bool fill(const std::string& path)
    {
        const vantor::UniqueFd writer(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        const std::string filler(4096, kFiller);
        for (const std::size_t size : {filler.size(), std::size_t{1}}) {
            while (::write(writer.get(), filler.data(), size) > 0) {
            }
        }
        return errno == EAGAIN;
    }

    // Reads until `text` has arrived or the deadline has passed; whether it arrived.
    bool wait_for(const std::string& text)
    {
        return vantor::test::wait_until(
            [&] {
                char buffer[512];
                ssize_t n = 0;
                while ((n = ::read(m_fd.get(), buffer, sizeof buffer)) > 0) {
                    m_received.append(buffer, static_cast<std::size_t>(n));
                }
                return m_received.find(text) != std::string::npos;
            },
            kDeadline);
    }

private:
    static constexpr char kFiller = '#';  // in no status object
    vantor::UniqueFd m_fd;
    std::string m_received;
};

// The encoder application with its standard output read line by line. With `last_line`, the
// reading ends after that line and the pipe's read end is closed.
class EncoderApp {
public:
    explicit EncoderApp(std::string last_line = {})
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        vantor::UniqueFd read_end(out[0]);
        vantor::UniqueFd write_end(out[1]);
        std::string program = std::string(VANTOR_BIN_DIR) + "/encoder-app";
        char* argv[] = {program.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv, environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        write_end.reset();
        m_reader = std::thread([this, fd = std::move(read_end),
                                last = std::move(last_line)]() mutable { read_lines(fd, last); });
    }
    ~EncoderApp()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        if (m_reader.joinable()) {
            m_reader.join();
        }
    }
    EncoderApp(const EncoderApp&) = delete;
    EncoderApp& operator=(const EncoderApp&) = delete;

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    void interrupt() const { ::kill(m_pid, SIGINT); }

    // Waits for a line equal to `text` after position `from`; its position, or -1.
    int wait_for(const std::string& text, int from = 0, std::chrono::seconds deadline = kDeadline)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        int found = -1;
        m_changed.wait_for(lock, deadline, [&] {
            found = find_locked(text, from);
            return found >= 0 || m_eof;
        });
        return found;
    }

    // Waits for the process to end; its exit status, or -1 (killed, or still running).
    int wait_exit(std::chrono::seconds deadline = kDeadline)
    {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            const pid_t pid = ::waitpid(m_pid, &status, WNOHANG);
            if (pid == m_pid) {
                m_pid = -1;
                if (m_reader.joinable()) {
                    m_reader.join();
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    Lines lines()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    int find(const std::string& text, int from = 0)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return find_locked(text, from);
    }
    int count(const std::string& text)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), text));
    }

    // True when `expected` appears in this order (other lines may come between).
    bool in_order(const Lines& expected, int from = 0)
    {
        int at = from;
        for (const std::string& text : expected) {
            at = find(text, at);
            if (at < 0) {
                return false;
            }
            ++at;
        }
        return true;
    }

private:
    int find_locked(const std::string& text, int from) const
    {
        for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < m_lines.size(); ++i) {
            if (m_lines[i] == text) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    void read_lines(vantor::UniqueFd& fd, const std::string& last_line)
    {
        std::string partial;
        char buffer[4096];
        while (fd) {
            const ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
            if (n <= 0) {
                break;
            }
            partial.append(buffer, static_cast<std::size_t>(n));
            std::string::size_type line_end = 0;
            while (fd && (line_end = partial.find('\n')) != std::string::npos) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_lines.push_back(without_err_words(partial.substr(0, line_end)));
                partial.erase(0, line_end + 1);
                if (!last_line.empty() && m_lines.back() == last_line) {
                    fd.reset();
                    partial.clear();
                }
                m_changed.notify_all();
            }
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!partial.empty()) {
            m_lines.push_back(without_err_words(partial));
        }
        m_eof = true;
        m_changed.notify_all();
    }

    pid_t m_pid = -1;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Lines m_lines;
    bool m_eof = false;
};

class EncoderAppOnBoard : public ::testing::Test {
protected:
    EncoderAppOnBoard()
        : registry_env("VANTOR_NDI_REGISTRY", registry.path()),
          path_env("PATH", tools_first_in_path(tools)),
          camera((make_board(), VANTOR_BIN_DIR), board / "/dev/ttyPS1", board / "/camera.sock",
                 {"--format-delay", "0"}),
          // A modest picture rate keeps the frame path light on a loaded machine.
          encoder(VANTOR_BIN_DIR, board / "/dev/vantor-speedhq", {"--rate", "30"})
    {
    }
    void SetUp() override
    {
        ASSERT_TRUE(camera.ready());
        ASSERT_TRUE(encoder.ready());
    }

    void make_board()
    {
        board.make_dir("/dev");
        board.make_dir("/etc");
        board.make_dir("/tmp");
        write_tool(tools, "ip", "    inet 10.77.0.2/24 brd 10.77.0.255 scope global eth0\\n");
        write_tool(tools, "ifconfig", "eth0      Link encap:Ethernet  HWaddr 02:00:0A:4D:00:02\\n");
        set_format("1080p50", "422");
    }
    void set_format(const std::string& format, const std::string& sampling)
    {
        write_text(board / kSettings, settings_text(format, sampling));
    }
    // Waits until the dashboard status shows `text`; the status last seen.
    std::string dashboard(const std::string& text)
    {
        const std::string expected = R"({"dashboard_vid_input":")" + text + R"("})";
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        std::string seen;
        while (std::chrono::steady_clock::now() < end) {
            seen = read_text(board / "/tmp/vantor-dashboard-pipe");
            if (seen == expected) {
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        return seen;
    }

    // Waits until the encoder runs with the format of `code`: its start line, then its threads.
    // The start line's position, or -1.
    static int wait_streaming(EncoderApp& app, const std::string& code = "29")
    {
        const int started = app.wait_for("START NDI Encode with format " + code);
        return started >= 0 && app.wait_for("creat_encode_threads", started) >= 0 ? started : -1;
    }

    // SIGINT, then the shutdown lines in order after `from`, and exit status 0.
    void expect_orderly_end(EncoderApp& app, int from)
    {
        app.interrupt();
        expect_shutdown(app, from);
    }
    void expect_shutdown(EncoderApp& app, int from)
    {
        EXPECT_EQ(app.wait_exit(), 0);
        EXPECT_TRUE(app.in_order(kShutdown, from)) << joined(app.lines());
        EXPECT_EQ(app.lines().back(), "End Nimbo 4k enc app");
    }
    static std::string joined(const Lines& lines)
    {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\n";
        }
        return text;
    }

    TempBoardRoot board;
    TempDir registry;
    TempDir tools;
    ScopedEnv registry_env;
    ScopedEnv path_env;
    CameraSimProcess camera;
    SpeedHqSimProcess encoder;
};

TEST_F(EncoderAppOnBoard, StartsUpInOrderAndOnlyItsMainThreadTakesTheSigintThatEndsIt)
{
    EncoderApp app;
    ASSERT_TRUE(app.started());
    const int started = app.wait_for("START NDI Encode with format 29");
    ASSERT_GE(started, 0) << joined(app.lines());
    ASSERT_GE(app.wait_for("PROG SR 422", started), 0) << joined(app.lines());
    EXPECT_TRUE(app.in_order({"Start Nimbo 4k enc app", "init ndi", "map_NdiTransmitter_mem",
                              "adv7619_config()", "NDIConfigStream", "IP Address 10.77.0.2",
                              "MAC Address 02:00:0A:4D:00:02", "start main_exit_loop",
                              "START NDI Encode with format 29", "PROG SR 422"}))
        << joined(app.lines());
    EXPECT_EQ(app.lines().front(), "Start Nimbo 4k enc app");
    ASSERT_GE(app.wait_for("creat_encode_threads", started), 0);
    // The status comes after the encode threads have started: the main thread is in its loop.
    ASSERT_EQ(dashboard("1080p50-422"), R"({"dashboard_vid_input":"1080p50-422"})");

    // Only the main thread takes SIGINT: every other one has it blocked.
    const std::string main_thread = std::to_string(app.pid());
    int others = 0;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + main_thread + "/task", error)) {
        const std::string tid = task.path().filename().string();
        const bool is_main = tid == main_thread;
        const std::string status = read_text(task.path() / "status");
        if (status.empty()) {
            // The thread ended meanwhile (the audio thread does on a board without audio).
            continue;
        }
        EXPECT_EQ(blocks_sigint(status), !is_main) << "thread " << tid;
        others += is_main ? 0 : 1;
    }
    ASSERT_FALSE(error) << error.message();
    // The two senders' threads, the VISCA engine, the web-UI synchronisation and four encode
    // threads at least.
    EXPECT_GE(others, 8);

    app.interrupt();
    const int stop = app.wait_for("STOP NDI Encode", started);
    ASSERT_GE(stop, 0) << joined(app.lines());
    expect_shutdown(app, stop);
    EXPECT_TRUE(app.in_order({"STOP NDI Encode", "STOP wait_ndi_frame_thread",
                              "STOP send_audio_frame_thread", "STOP ndi_tally_thread"},
                             started));
    EXPECT_EQ(app.count("START NDI Encode with format 29"), 1);
}

TEST_F(EncoderAppOnBoard, FormatChangeRestartsInOnePassSamplingAloneDoesNot)
{
    EncoderApp app;
    ASSERT_TRUE(app.started());
    int at = app.wait_for("START NDI Encode with format 29");
    ASSERT_GE(at, 0) << joined(app.lines());
    ASSERT_GE(app.wait_for("creat_encode_threads", at), 0);

    // 1080p50 -> 1080p60: the stop and the start in the same pass, both with the new code.
    set_format("1080p60", "420");
    const int stop = app.wait_for("STOP NDI Encode 2b", at);
    ASSERT_GE(stop, 0) << joined(app.lines());
    at = app.wait_for("START NDI Encode with format 2b", stop);
    ASSERT_GE(at, 0) << joined(app.lines());
    ASSERT_GE(app.wait_for("PROG SR 422", at), 0) << joined(app.lines());
    EXPECT_TRUE(
        app.in_order({"STOP NDI Encode 2b", "STOP send_audio_frame_thread", "vid_format_change 2b",
                      "START NDI Encode with format 2b", "PROG SR 422"},
                     stop));
    ASSERT_GE(app.wait_for("creat_encode_threads", at), 0);
    EXPECT_EQ(dashboard("1080p60-422"), R"({"dashboard_vid_input":"1080p60-422"})");

    // The sampling alone changes nothing (four loop passes give it every chance to).
    set_format("1080p60", "422");
    EXPECT_LT(app.wait_for("STOP NDI Encode 2b", at + 1, 2s), 0);
    set_format("1080p60", "420");
    EXPECT_LT(app.wait_for("STOP NDI Encode 2b", at + 1, 2s), 0);

    // 4:2:0 is used for a 2160-line format, and the dashboard shows it.
    set_format("2160p25", "420");
    const int stop_4k = app.wait_for("STOP NDI Encode 33", at);
    ASSERT_GE(stop_4k, 0) << joined(app.lines());
    at = app.wait_for("START NDI Encode with format 33", stop_4k);
    ASSERT_GE(at, 0) << joined(app.lines());
    EXPECT_GE(app.wait_for("PROG SR 420", at), 0) << joined(app.lines());
    ASSERT_GE(app.wait_for("creat_encode_threads", at), 0);
    EXPECT_LT(app.find("PROG SR 422", at), 0) << joined(app.lines());
    EXPECT_EQ(dashboard("2160p25-420"), R"({"dashboard_vid_input":"2160p25-420"})");

    expect_orderly_end(app, at);
    EXPECT_EQ(app.count("STOP NDI Encode"), 1);
}

TEST_F(EncoderAppOnBoard, SigintDuringCameraBringUp)
{
    ASSERT_TRUE(camera.ok("silent"));
    EncoderApp app;
    ASSERT_TRUE(app.started());
    ASSERT_GE(app.wait_for("adv7619_config()"), 0) << joined(app.lines());
    // The presence check goes unanswered, at least twice: the bring-up retry runs.
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (camera.history().size() < 2 && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_GE(camera.history().size(), 2U);

    expect_orderly_end(app, 0);
    EXPECT_LT(app.find("start main_exit_loop"), 0);
    EXPECT_LT(app.find("START NDI Encode with format 29"), 0);
    EXPECT_LT(app.find("STOP NDI Encode"), 0);
}

TEST_F(EncoderAppOnBoard, SigintWhileTheFirstFormatWaitsForTheCamera)
{
    // The camera answers but never reports the new format.
    ASSERT_TRUE(camera.ok("format-delay 3600000"));
    set_format("2160p25", "422");
    EncoderApp app;
    ASSERT_TRUE(app.started());
    const int change = app.wait_for("vid_format_change 33");
    ASSERT_GE(change, 0) << joined(app.lines());
    ASSERT_GE(app.wait_for("vid_format_get", change), 0) << joined(app.lines());

    expect_orderly_end(app, change);
    EXPECT_LT(app.find("START NDI Encode with format 33"), 0);
    EXPECT_LT(app.find("STOP NDI Encode"), 0);
}

TEST_F(EncoderAppOnBoard, SigintWhileAFormatChangeWaitsForTheCamera)
{
    EncoderApp app;
    ASSERT_TRUE(app.started());
    const int started = wait_streaming(app);
    ASSERT_GE(started, 0) << joined(app.lines());

    ASSERT_TRUE(camera.ok("format-delay 3600000"));
    set_format("1080p60", "422");  // the camera would have to report 1080p59.94
    const int stop = app.wait_for("STOP NDI Encode 2b", started);
    ASSERT_GE(stop, 0) << joined(app.lines());
    const int change = app.wait_for("vid_format_change 2b", stop);
    ASSERT_GE(change, 0) << joined(app.lines());
    ASSERT_GE(app.wait_for("vid_format_get", change), 0) << joined(app.lines());

    expect_orderly_end(app, change);
    // The encoder stays stopped: no start with the new format, no second stop.
    EXPECT_LT(app.find("START NDI Encode with format 2b"), 0);
    EXPECT_LT(app.find("STOP NDI Encode"), 0);
    EXPECT_EQ(app.count("creat_encode_threads"), 1);
}

TEST_F(EncoderAppOnBoard, SigintWhileTheCameraIsSilentDuringAFormatChange)
{
    EncoderApp app;
    ASSERT_TRUE(app.started());
    const int started = wait_streaming(app);
    ASSERT_GE(started, 0) << joined(app.lines());

    ASSERT_TRUE(camera.ok("silent"));
    set_format("720p60", "422");
    const int stop = app.wait_for("STOP NDI Encode 8", started);
    ASSERT_GE(stop, 0) << joined(app.lines());
    ASSERT_GE(app.wait_for("vid_format_change 8", stop), 0) << joined(app.lines());

    expect_orderly_end(app, stop);
    EXPECT_LT(app.find("START NDI Encode with format 8"), 0);
}

TEST_F(EncoderAppOnBoard, SettingsRewrittenInPlaceRestartNothing)
{
    EncoderApp app;
    ASSERT_TRUE(app.started());
    const int started = wait_streaming(app);
    ASSERT_GE(started, 0) << joined(app.lines());

    // Some of the loop's reads find the file empty or cut short, which reads as 1080p59.94 (2a).
    for (int rewrite = 0; rewrite < kRewrites; ++rewrite) {
        rewrite_in_place(board / kSettings, settings_text("1080p50", "422"));
        std::this_thread::sleep_for(kBetweenRewrites);
    }
    // A real change is still taken, and its stop is the first one.
    set_format("1080p60", "422");
    const int stop = app.wait_for("STOP NDI Encode 2b", started);
    ASSERT_GE(stop, 0) << joined(app.lines());
    EXPECT_LT(app.find("STOP NDI Encode 2a", started), 0) << joined(app.lines());
    EXPECT_EQ(app.count("START NDI Encode with format 29"), 1) << joined(app.lines());
    expect_orderly_end(app, stop);
}

TEST_F(EncoderAppOnBoard, DashboardPipeGetsTheStatusItMissedAndANewFormatName)
{
    ASSERT_EQ(::mkfifo((board / kDashboard).c_str(), 0644), 0);
    DashboardPipeReader dashboard(board / kDashboard);
    ASSERT_TRUE(dashboard.open());
    ASSERT_TRUE(DashboardPipeReader::fill(board / kDashboard));
    const vantor::UniqueFd writes(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(writes);
    // Opens are watched too: the kernel merges an event into an identical one just before it.
    ASSERT_GE(
        ::inotify_add_watch(writes.get(), (board / kDashboard).c_str(), IN_OPEN | IN_CLOSE_WRITE),
        0);

    set_format("2160p29.97", "422");
    EncoderApp app;
    ASSERT_TRUE(app.started());
    const int started = wait_streaming(app, "34");
    ASSERT_GE(started, 0) << joined(app.lines());
    // Three writes tried on the full pipe: the two start-up texts and the format.
    int tried = 0;
    ASSERT_TRUE(vantor::test::wait_until(
        [&] {
            tried += vantor::test::count_inotify_events(writes.get(), IN_CLOSE_WRITE);
            return tried >= 3;
        },
        kDeadline));

    // The reader reads again: the status it missed arrives.
    EXPECT_TRUE(dashboard.wait_for(R"({"dashboard_vid_input":"2160p29.97-422"})"))
        << dashboard.received();

    // 2160p30 runs as 2160p29.97: the dashboard shows the new name without a restart.
    set_format("2160p30", "422");
    EXPECT_TRUE(dashboard.wait_for(R"({"dashboard_vid_input":"2160p30-422"})"))
        << dashboard.received();
    EXPECT_LT(app.find("STOP NDI Encode 34", started), 0) << joined(app.lines());
    expect_orderly_end(app, started);
}

TEST_F(EncoderAppOnBoard, OutputReaderGoneStillShutsDownWithStatus0)
{
    EncoderApp app("creat_encode_threads");  // stops reading and closes its end after this line
    ASSERT_TRUE(app.started());
    ASSERT_GE(app.wait_for("creat_encode_threads"), 0) << joined(app.lines());
    // The shutdown lines now go to a pipe without a reader.
    app.interrupt();
    EXPECT_EQ(app.wait_exit(), 0);
}

// Takes about 31 s: the stall is detected after 31 once-a-second checks without a frame, at the
// program's real period.
TEST_F(EncoderAppOnBoard, EncoderStallEndsTheProgramInOrder_Takes31Seconds)
{
    EncoderApp app;
    ASSERT_TRUE(app.started());
    const int started = wait_streaming(app);
    ASSERT_GE(started, 0) << joined(app.lines());
    ASSERT_EQ(encoder.command("stall").rfind("ok", 0), 0U);

    const int stop = app.wait_for("STOP NDI Encode", started, 120s);
    ASSERT_GE(stop, 0) << joined(app.lines());
    expect_shutdown(app, stop);
    EXPECT_EQ(app.count("START NDI Encode with format 29"), 1);
}

}  // namespace
