#include "camera_board.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/child_process.h"
#include "support/wait_until.h"
#include "vantor/file_io.h"

namespace vantor::test {

namespace {

using namespace std::chrono_literals;

const std::string kBin = VANTOR_BIN_DIR;
const std::string kSource = VANTOR_SOURCE_DIR;

// Generous: under the sanitizers on a shared two-core machine the board takes a while.
constexpr auto kUpDeadline = 120s;
constexpr auto kStopDeadline = 150s;
constexpr auto kPollStep = 50ms;

// On the shared two-core machine a receiver or the sender's I/O thread that is not scheduled for
// 50 ms (three pictures at 59.94 Hz, a sender's whole queue) loses a picture although nothing is
// wrong with the camera. Such single losses are tolerated: one in a thousand pictures (and one)
// in all, at most two in one second. A flood, a storm or a leak that stalls the stream loses
// dozens a second.
constexpr int64_t kSchedulingLossPerSecond = 2;
constexpr double kSchedulingLossShare = 0.001;

std::string file_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value after "Name:" in /proc/PID/status, or -1.
int64_t status_field(const std::string& status, const std::string& name)
{
    const auto at = status.find("\n" + name + ":");
    if (at == std::string::npos) {
        return -1;
    }
    return std::stoll(status.substr(at + name.size() + 2));
}

int count_fds(pid_t pid)
{
    DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count;
}

}  // namespace

ProcessSample sample_process(pid_t pid)
{
    ProcessSample sample;
    const std::string base = "/proc/" + std::to_string(pid);
    const std::string status = file_text(base + "/status");
    const std::string stat = file_text(base + "/stat");
    // A zombie has no memory and no threads worth counting: it has ended.
    if (status.empty() || stat.empty() || status.find("\nState:\tZ") != std::string::npos) {
        return sample;
    }
    sample.alive = true;
    sample.rss_kib = status_field(status, "VmRSS");
    sample.threads = static_cast<int>(status_field(status, "Threads"));
    sample.fds = count_fds(pid);
    // Fields after the command name (which may hold blanks): state is field 3, utime 14, stime 15.
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    std::vector<std::string> after_name;
    while (fields >> field) {
        after_name.push_back(field);
    }
    if (after_name.size() > 12) {
        const auto ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
        sample.cpu_seconds =
            static_cast<double>(std::stoll(after_name[11]) + std::stoll(after_name[12])) / ticks;
    }
    return sample;
}

std::vector<ProgramSecond> program_seconds(const std::string& monitor_output)
{
    static const std::regex line(
        R"(video program: (\d+x\d+) \S+ ([0-9.]+) fps, \d+ bytes/frame, (\d+) lost)");
    std::vector<ProgramSecond> seconds;
    for (auto it = std::sregex_iterator(monitor_output.begin(), monitor_output.end(), line);
         it != std::sregex_iterator(); ++it) {
        seconds.push_back({(*it)[1].str(), std::stod((*it)[2].str()), std::stoll((*it)[3].str())});
    }
    return seconds;
}

size_t audio_seconds(const std::string& monitor_output)
{
    size_t count = 0;
    for (size_t at = monitor_output.find("\naudio: "); at != std::string::npos;
         at = monitor_output.find("\naudio: ", at + 1)) {
        ++count;
    }
    return count;
}

void expect_pictures_kept(const std::string& monitor_output, int seconds, double min_fps,
                          int gap_seconds)
{
    const std::vector<ProgramSecond> lines = program_seconds(monitor_output);
    // ndi-monitor counts its seconds from its start, connecting included.
    EXPECT_GE(static_cast<int>(lines.size()), seconds - 5 - gap_seconds) << monitor_output;
    int slow = 0;
    double received = 0.0;
    int64_t lost = 0;
    for (const ProgramSecond& second : lines) {
        EXPECT_LE(second.lost, kSchedulingLossPerSecond) << monitor_output;
        slow += second.fps < min_fps ? 1 : 0;
        received += second.fps;
        lost += second.lost;
    }
    EXPECT_LE(static_cast<double>(lost), 1.0 + received * kSchedulingLossShare)
        << lost << " of " << received << " pictures lost:\n"
        << monitor_output;
    // The first second is cut by the connection; a second cut by a format change brings fewer
    // pictures.
    EXPECT_LE(slow, 1 + 2 * gap_seconds) << "seconds below " << min_fps << " fps:\n"
                                         << monitor_output;
}

BackgroundCommand::BackgroundCommand(const std::vector<std::string>& argv,
                                     const std::string& log_path)
    : m_log_path(log_path)
{
    ChildStreams streams;
    streams.in = {-1, "/dev/null", O_RDONLY};
    streams.out = {-1, log_path, O_WRONLY | O_CREAT | O_TRUNC};
    streams.err.fd = STDOUT_FILENO;
    // start_child takes a path; env finds the program in PATH.
    std::vector<std::string> args = {"/usr/bin/env"};
    args.insert(args.end(), argv.begin(), argv.end());
    m_pid = start_child(args, streams);
}

BackgroundCommand::~BackgroundCommand()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int raw = 0;
        ::waitpid(m_pid, &raw, 0);
    }
}

int BackgroundCommand::wait(std::chrono::seconds deadline)
{
    int raw = 0;
    if (m_pid <= 0 || !wait_until([&] { return ::waitpid(m_pid, &raw, WNOHANG) == m_pid; },
                                  deadline, kPollStep)) {
        return -1;
    }
    m_pid = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string BackgroundCommand::output() const
{
    return file_text(m_log_path);
}

void CameraBoardTest::SetUp()
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the camera's and the studio's network namespaces need root";
    }
    // VANTOR_BOARD_BIN runs the board's programs from another folder (scripts/soak --valgrind puts
    // encoder-app under memcheck that way); the tools stay this build's.
    const char* board_bin = std::getenv("VANTOR_BOARD_BIN");
    m_script = std::make_unique<BoardScript>(
        kSource,
        std::vector<std::string>{"--bin", board_bin != nullptr ? board_bin : kBin, "--root", m_root,
                                 "--format", m_format},
        log("board.log"));
    ASSERT_TRUE(m_script->started());
    m_facts = wait_board_env(*m_script, m_root, "BOARD_NDI_ADDRESS", kUpDeadline);
    ASSERT_FALSE(m_facts.empty()) << "the camera's NDI source never appeared:\n"
                                  << m_script->output();
    if (m_facts["BOARD_STUDIO_NETNS"].empty()) {
        GTEST_SKIP() << "this machine refused to create network namespaces";
    }
}

std::string CameraBoardTest::encoder_log() const
{
    return file_text(m_root + "/var/log/encoder-app.log");
}

void CameraBoardTest::TearDown()
{
    m_script.reset();
}

std::vector<std::string> CameraBoardTest::in_studio(std::vector<std::string> argv) const
{
    argv.insert(argv.begin(), {"ip", "netns", "exec", m_facts.at("BOARD_STUDIO_NETNS")});
    return argv;
}

CommandResult CameraBoardTest::studio_command(const std::vector<std::string>& argv,
                                              std::chrono::seconds deadline) const
{
    return run_command(in_studio(argv), deadline);
}

std::unique_ptr<BackgroundCommand> CameraBoardTest::start_program_receiver(int seconds) const
{
    return std::make_unique<BackgroundCommand>(
        // The well-behaved receiver keeps up also on a machine busy with builds: a receiver that
        // does not read in time loses pictures, which is not what these tests look for.
        in_studio({"nice", "-n", "-10", kBin + "/ndi-monitor", "--streams", "program", "--seconds",
                   std::to_string(seconds), "--connect-timeout", "60",
                   m_facts.at("BOARD_NDI_ADDRESS")}),
        log("receiver.log"));
}

bool CameraBoardTest::wait_more_program_seconds(const BackgroundCommand& receiver,
                                                size_t more) const
{
    const size_t count = program_seconds(receiver.output()).size() + more;
    return wait_until([&] { return program_seconds(receiver.output()).size() >= count; }, 90s,
                      kPollStep);
}

void CameraBoardTest::expect_receiver_lost_nothing(BackgroundCommand& receiver, int seconds,
                                                   double min_fps, int gap_seconds) const
{
    ASSERT_EQ(receiver.wait(90s), 0) << receiver.output();
    expect_pictures_kept(receiver.output(), seconds, min_fps, gap_seconds);
}

bool CameraBoardTest::visca_all_answered(const std::vector<std::string>& request, int count,
                                         std::string* output) const
{
    std::vector<std::string> argv = {kBin + "/visca-ip", "--repeat", std::to_string(count),
                                     camera_address()};
    argv.insert(argv.end(), request.begin(), request.end());
    const CommandResult result = studio_command(argv, 60s);
    if (output != nullptr) {
        *output = result.output;
    }
    const std::string all = std::to_string(count) + " requests: " + std::to_string(count) +
                            " answered, 0 lost, 0 errors";
    return result.status == 0 && result.output.find(all) != std::string::npos;
}

bool CameraBoardTest::wait_visca_answered(std::chrono::seconds deadline) const
{
    // Each try takes up to visca-ip's own reply time-out: no pause between tries.
    return wait_until([&] { return visca_all_answered({"zoom-pos?"}, 1); }, deadline,
                      std::chrono::milliseconds(0));
}

vantor::UniqueFd CameraBoardTest::studio_socket(int type) const
{
    // A socket belongs to the namespace of the thread that creates it: this thread steps into
    // the studio namespace for the call and back out.
    const vantor::UniqueFd own(::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC));
    const vantor::UniqueFd studio(
        ::open(("/run/netns/" + m_facts.at("BOARD_STUDIO_NETNS")).c_str(), O_RDONLY | O_CLOEXEC));
    if (!own || !studio || ::setns(studio.get(), CLONE_NEWNET) != 0) {
        return {};
    }
    vantor::UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (::setns(own.get(), CLONE_NEWNET) != 0) {
        ADD_FAILURE() << "cannot return to the test's own network namespace";
        std::abort();
    }
    return fd;
}

uint16_t CameraBoardTest::ndi_port() const
{
    const std::string& address = m_facts.at("BOARD_NDI_ADDRESS");
    return static_cast<uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
}

pid_t CameraBoardTest::encoder_pid() const
{
    return static_cast<pid_t>(std::stoi(m_facts.at("BOARD_ENCODER_APP_PID")));
}

pid_t CameraBoardTest::platform_pid() const
{
    return static_cast<pid_t>(std::stoi(m_facts.at("BOARD_PLATFORM_APP_PID")));
}

std::string CameraBoardTest::sim_command(const std::string& control_fact,
                                         const std::string& command) const
{
    const std::string& path = m_facts.at(control_fact);
    vantor::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fd || path.size() >= sizeof address.sun_path) {
        return "no socket";
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const std::string line = command + "\n";
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !vantor::send_all(fd.get(), line.data(), line.size())) {
        return "cannot reach " + path;
    }
    std::string reply;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
        const auto last = reply.rfind('\n', reply.size() > 1 ? reply.size() - 2 : 0);
        const std::string last_line = reply.substr(last == std::string::npos ? 0 : last + 1);
        if (!reply.empty() && reply.back() == '\n' &&
            (last_line.rfind("ok", 0) == 0 || last_line.rfind("err", 0) == 0)) {
            break;
        }
        pollfd readable{fd.get(), POLLIN, 0};
        char buffer[4096];
        ssize_t got = 0;
        if (::poll(&readable, 1, 100) == 1 && (got = ::read(fd.get(), buffer, sizeof buffer)) > 0) {
            reply.append(buffer, static_cast<size_t>(got));
        } else if (got < 0) {
            break;
        }
    }
    return reply;
}

void CameraBoardTest::expect_clean_stop()
{
    m_script->signal(SIGINT);
    EXPECT_EQ(m_script->wait_exit(kStopDeadline), 0) << m_script->output();
}

bool set_setting(const std::string& path, const std::string& key, const std::string& value)
{
    std::string text;
    if (!vantor::read_file(path, text)) {
        return false;
    }
    const std::string quoted = "\"" + key + "\":\"";
    const auto start = text.find(quoted);
    if (start == std::string::npos) {
        return false;
    }
    const auto value_start = start + quoted.size();
    const auto value_end = text.find('"', value_start);
    if (value_end == std::string::npos) {
        return false;
    }
    text.replace(value_start, value_end - value_start, value);
    return vantor::replace_file_atomically(path, text);
}

}  // namespace vantor::test
