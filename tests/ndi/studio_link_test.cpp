// The runtime on a studio network: two network namespaces of the test's own joined by a veth
// link ("camera" and "studio", scripts/lib/board-netns.sh), each with its own D-Bus bus and
// avahi-daemon (scripts/lib/board-avahi.sh). Senders run in the camera namespace
// (ndi-test-sender), receivers in the studio namespace (ndi-monitor, avahi-browse).

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../sim/board_script.h"
#include "support/child_process.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"

namespace vantor::test {
namespace {

using namespace std::chrono_literals;

const std::string kBin = VANTOR_BIN_DIR;
const std::string kLib = std::string(VANTOR_SOURCE_DIR) + "/scripts/lib";
// Generous for the sanitizers on a shared machine; far below TCP's own give-up time (minutes),
// so a connection that is not watched for liveness fails the test.
constexpr auto kDeadline = std::chrono::milliseconds(20s);

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::size_t count(const std::string& text, const std::string& part)
{
    std::size_t found = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++found;
    }
    return found;
}

// True once the file at `log` contains `part`; false at the deadline.
bool shows(const std::string& log, const std::string& part)
{
    return wait_until([&] { return contains(read_text(log), part); }, kDeadline);
}

std::string shell(const std::string& script)
{
    return "source " + kLib + "/board-netns.sh && source " + kLib + "/board-avahi.sh && " + script;
}

class StudioLink : public ::testing::Test {
protected:
    struct Side {
        std::string ns;
        std::string dir;
        std::string host;
        std::string interface;
        pid_t bus = -1;
        pid_t daemon = -1;
    };

    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root for network namespaces";
        }
        if (::access("/usr/sbin/avahi-daemon", X_OK) != 0) {
            GTEST_SKIP() << "avahi-daemon is not installed (scripts/setup)";
        }
        const std::string id = std::to_string(::getpid());
        m_camera = {"ndit-cam-" + id, m_dir / "camera", "ndit-cam-" + id, "eth0"};
        m_studio = {"ndit-studio-" + id, m_dir / "studio", "ndit-studio-" + id, "studio0"};
        const CommandResult up = run_command(
            {"bash", "-c", shell("board_netns_up " + m_camera.ns + " " + m_studio.ns)}, 60s);
        if (up.status != 0) {
            GTEST_SKIP() << "network namespaces refused here: " << up.output;
        }
        m_namespaces = true;
        for (Side* side : {&m_camera, &m_studio}) {
            ASSERT_EQ(run_command({"bash", "-c",
                                   shell("board_avahi_config " + side->dir + " " + side->host +
                                         " " + side->interface)},
                                  30s)
                          .status,
                      0);
        }
    }

    void TearDown() override
    {
        for (auto it = m_children.rbegin(); it != m_children.rend(); ++it) {
            stop(*it);
        }
        if (m_namespaces) {
            run_command(
                {"bash", "-c", shell("board_netns_down " + m_camera.ns + " " + m_studio.ns)}, 60s);
        }
    }

    pid_t start(const std::vector<std::string>& argv, const std::string& log)
    {
        ChildStreams streams;
        streams.in.path = "/dev/null";
        streams.out.path = log;
        streams.out.flags = O_WRONLY | O_CREAT | O_APPEND;
        streams.err = streams.out;
        const pid_t pid = start_child(argv, streams);
        EXPECT_GT(pid, 0) << argv[0];
        m_children.push_back(pid);
        return pid;
    }

    void stop(pid_t& pid, int signo = SIGTERM)
    {
        if (pid > 0) {
            ::kill(pid, signo);
            ::kill(pid, SIGCONT);  // a stopped child takes the signal only once it runs again
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }

    void start_bus(Side& side)
    {
        side.bus =
            start({"/bin/bash", "-c", shell("board_avahi_exec_bus " + side.ns + " " + side.dir)},
                  side.dir + "/dbus.log");
        ASSERT_TRUE(wait_until(
            [&] { return ::access((side.dir + "/system_bus_socket").c_str(), F_OK) == 0; },
            kDeadline));
    }

    void start_daemon(Side& side)
    {
        const std::string log = side.dir + "/avahi-daemon.log";
        // The log is appended to: this start's own line is the one more.
        const std::size_t before = count(read_text(log), "startup complete");
        side.daemon = start(
            {"/bin/bash", "-c", shell("board_avahi_exec_daemon " + side.ns + " " + side.dir)}, log);
        ASSERT_TRUE(wait_until([&] { return count(read_text(log), "startup complete") > before; },
                               kDeadline))
            << read_text(log);
    }

    // argv run inside the side's namespace, on its bus, listening on every interface there.
    std::vector<std::string> inside(const Side& side, std::vector<std::string> argv) const
    {
        std::vector<std::string> full = {"/usr/sbin/ip",
                                         "netns",
                                         "exec",
                                         side.ns,
                                         "env",
                                         "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + side.dir +
                                             "/system_bus_socket",
                                         "VANTOR_NDI_ADDRESS=0.0.0.0",
                                         "VANTOR_NDI_REGISTRY=" + side.dir + "/registry"};
        full.insert(full.end(), argv.begin(), argv.end());
        return full;
    }

    // ndi-test-sender in the camera namespace; its output goes to `log`.
    pid_t start_senders(const Side& side, const std::vector<std::string>& args,
                        const std::string& log)
    {
        std::vector<std::string> argv = {kBin + "/ndi-test-sender"};
        argv.insert(argv.end(), args.begin(), args.end());
        const pid_t pid = start(inside(side, argv), log);
        EXPECT_TRUE(shows(log, "\nready\n"));
        return pid;
    }

    // The address ndi-test-sender printed for `name`.
    static std::string address_in(const std::string& log, const std::string& name)
    {
        const std::string text = read_text(log);
        const std::string key = "sender " + name + " ";
        const std::size_t at = text.find(key);
        if (at == std::string::npos) {
            return {};
        }
        const std::size_t start = at + key.size();
        return text.substr(start, text.find('\n', start) - start);
    }

    std::string list_from_studio(const std::string& groups = {})
    {
        std::vector<std::string> argv = {kBin + "/ndi-monitor", "--list", "--seconds", "1"};
        if (!groups.empty()) {
            argv.insert(argv.end(), {"--groups", groups});
        }
        return run_command(inside(m_studio, argv), 60s).output;
    }

    // ndi-monitor from the studio side on `source` for a second: what it printed.
    std::string monitor_from_studio(const std::string& source)
    {
        return run_command(inside(m_studio, {kBin + "/ndi-monitor", source, "--seconds", "1",
                                             "--connect-timeout", "20"}),
                           60s)
            .output;
    }

    TempDir m_dir;
    Side m_camera;
    Side m_studio;
    bool m_namespaces = false;
    std::vector<pid_t> m_children;
};

TEST_F(StudioLink, CameraFoundByMdnsAcrossTheLinkWithGroupsHonouredAndWithdrawnWhenItEnds)
{
    for (Side* side : {&m_camera, &m_studio}) {
        start_bus(*side);
        start_daemon(*side);
    }
    const std::string log = m_dir / "senders.log";
    pid_t senders = start_senders(m_camera, {"CAM", "comms/Vantor-Comms"}, log);
    const std::string camera = address_in(log, "CAM");
    EXPECT_EQ(camera.rfind("10.77.0.2:", 0), 0U) << "reported address " << camera;

    std::string listed;
    ASSERT_TRUE(
        wait_until([&] { return contains(listed = list_from_studio(), "(CAM)"); }, kDeadline))
        << listed;
    EXPECT_TRUE(contains(listed, "(CAM)  " + camera + "  groups: public")) << listed;
    EXPECT_FALSE(contains(listed, "(comms)")) << listed;
    const std::string comms = list_from_studio("vantor-comms");
    EXPECT_TRUE(contains(comms, "(comms)  " + address_in(log, "comms") + "  groups: Vantor-Comms"))
        << comms;
    EXPECT_FALSE(contains(comms, "(CAM)")) << comms;

    // An independent client sees the announcement with its TXT record.
    const CommandResult browsed =
        run_command(inside(m_studio, {"avahi-browse", "--resolve", "--terminate", "--parsable",
                                      "_vantor-ndi._tcp"}),
                    60s);
    // Parsable output escapes the blank and the parentheses of "<host> (comms)".
    EXPECT_TRUE(contains(browsed.output, "\\040comms\\041;_vantor-ndi._tcp;local;"))
        << browsed.output;
    EXPECT_TRUE(contains(browsed.output, "\"groups=Vantor-Comms\"")) << browsed.output;
    EXPECT_TRUE(contains(browsed.output, "\"proto=2\"")) << browsed.output;

    const std::string watched = monitor_from_studio("CAM");
    EXPECT_TRUE(contains(watched, "connected to 'CAM' at " + camera)) << watched;
    EXPECT_TRUE(contains(watched, "video program: 640x360 SHQ2")) << watched;

    stop(senders);
    EXPECT_TRUE(
        wait_until([&] { return !contains(listed = list_from_studio(), "(CAM)"); }, kDeadline))
        << listed;
}

TEST_F(StudioLink, SecondSenderOfTheSameNameIsAnnouncedUnderAvahisAlternativeName)
{
    for (Side* side : {&m_camera, &m_studio}) {
        start_bus(*side);
        start_daemon(*side);
    }
    const std::string first_log = m_dir / "first.log";
    start_senders(m_camera, {"CAM"}, first_log);
    const std::string second_log = m_dir / "second.log";
    start_senders(m_camera, {"CAM"}, second_log);
    // `ip netns exec` keeps the machine's host name, which the instance names start with.
    std::array<char, 256> host{};
    ASSERT_EQ(::gethostname(host.data(), host.size() - 1), 0);
    const std::string taken = std::string(host.data()) + " (CAM)";
    const std::string renamed = std::string(host.data()) + " (CAM #2)";
    EXPECT_TRUE(
        shows(second_log, "the mDNS name '" + taken + "' is taken; announced as '" + renamed + "'"))
        << read_text(second_log);
    // A name too long for an mDNS instance (63 bytes) is shortened, not left unannounced.
    const std::string long_name(80, 'L');
    const std::string long_log = m_dir / "long.log";
    start_senders(m_camera, {long_name}, long_log);
    const std::string shortened =
        std::string(host.data()) + " (" + long_name.substr(0, 60 - std::strlen(host.data())) + ")";

    // All stay reachable, each at its own port, and the renamed one introduces itself and is
    // found under the name announced.
    const std::string second = renamed + "  " + address_in(second_log, "CAM") + "  groups: public";
    std::string listed;
    EXPECT_TRUE(wait_until(
        [&] {
            listed = list_from_studio();
            return contains(listed, second) && contains(listed, shortened + "  ");
        },
        kDeadline))
        << listed;
    EXPECT_TRUE(contains(listed, taken + "  " + address_in(first_log, "CAM") + "  groups: public"))
        << listed;
    const std::string watched = monitor_from_studio("CAM #2");
    EXPECT_TRUE(contains(watched, "connected to 'CAM #2' at " + address_in(second_log, "CAM")))
        << watched;
}

TEST_F(StudioLink, CameraStreamsWithoutTheDaemonAndIsAnnouncedOnceItRunsAndAfterItRestarts)
{
    start_bus(m_camera);
    start_bus(m_studio);
    start_daemon(m_studio);
    const std::string log = m_dir / "senders.log";
    start_senders(m_camera, {"CAM"}, log);
    const std::string camera = address_in(log, "CAM");
    EXPECT_TRUE(contains(monitor_from_studio(camera), "video program: 640x360 SHQ2"));

    start_daemon(m_camera);
    std::string listed;
    EXPECT_TRUE(
        wait_until([&] { return contains(listed = list_from_studio(), "(CAM)"); }, kDeadline))
        << listed;

    stop(m_camera.daemon, SIGKILL);
    EXPECT_TRUE(contains(monitor_from_studio(camera), "video program: 640x360 SHQ2"));
    const std::string printed = read_text(log);
    EXPECT_TRUE(contains(printed, "mDNS daemon not running")) << printed;
    EXPECT_TRUE(contains(printed, "mDNS daemon reachable again")) << printed;

    // Restarted as a service manager does (its goodbye withdraws the announcement from the
    // studio's cache): announced again by the new daemon.
    start_daemon(m_camera);
    ASSERT_TRUE(wait_until(
        [&] { return count(read_text(log), "mDNS daemon reachable again") == 2; }, kDeadline))
        << read_text(log);
    stop(m_camera.daemon, SIGTERM);
    EXPECT_TRUE(
        wait_until([&] { return !contains(listed = list_from_studio(), "(CAM)"); }, kDeadline))
        << listed;
    start_daemon(m_camera);
    EXPECT_TRUE(
        wait_until([&] { return contains(listed = list_from_studio(), "(CAM)"); }, kDeadline))
        << listed;
}

TEST_F(StudioLink, CutLinkDropsTheReceiverAndItsTallyAndMovesTheReceiverToTheFailover)
{
    const std::string backup_log = m_dir / "backup.log";
    start_senders(m_studio, {"BACKUP"}, backup_log);
    const std::string camera_log = m_dir / "camera.log";
    start_senders(m_camera, {"--failover", address_in(backup_log, "BACKUP"), "CAM"}, camera_log);
    const std::string monitor_log = m_dir / "monitor.log";
    start(inside(m_studio, {kBin + "/ndi-monitor", address_in(camera_log, "CAM"), "--tally",
                            "program", "--connect-timeout", "20"}),
          monitor_log);
    ASSERT_TRUE(shows(camera_log, "tally CAM program=1 connections=1"))
        << read_text(camera_log) << read_text(monitor_log);

    // Neither end closes: the link just stops carrying anything.
    ASSERT_EQ(run_command({"ip", "-n", m_camera.ns, "link", "set", "eth0", "down"}, 30s).status, 0);
    EXPECT_TRUE(shows(camera_log, "tally CAM program=0 connections=0")) << read_text(camera_log);
    EXPECT_TRUE(shows(monitor_log, "connected to 'BACKUP'")) << read_text(monitor_log);
    EXPECT_TRUE(shows(backup_log, "tally BACKUP program=1")) << read_text(backup_log);
}

TEST_F(StudioLink, ReceiverByNameGoesToTheFailoverWhileTheCameraRestartsAndComesBack)
{
    for (Side* side : {&m_camera, &m_studio}) {
        start_bus(*side);
        start_daemon(*side);
    }
    const std::string backup_log = m_dir / "backup.log";
    start_senders(m_studio, {"BACKUP"}, backup_log);
    const std::vector<std::string> camera_args = {"--failover", address_in(backup_log, "BACKUP"),
                                                  "CAM"};
    pid_t camera = start_senders(m_camera, camera_args, m_dir / "camera.log");
    const std::string monitor_log = m_dir / "monitor.log";
    start(inside(m_studio, {kBin + "/ndi-monitor", "CAM", "--connect-timeout", "20"}), monitor_log);
    ASSERT_TRUE(shows(monitor_log, "connected to 'CAM'")) << read_text(monitor_log);

    stop(camera);
    EXPECT_TRUE(shows(monitor_log, "connected to 'BACKUP'")) << read_text(monitor_log);
    start_senders(m_camera, camera_args, m_dir / "camera-again.log");
    EXPECT_TRUE(wait_until([&] { return count(read_text(monitor_log), "connected to 'CAM'") == 2; },
                           kDeadline))
        << read_text(monitor_log);
    EXPECT_TRUE(shows(backup_log, "tally BACKUP program=0 connections=0")) << read_text(backup_log);
}

TEST_F(StudioLink, CameraWhoseAddressComesLateIsAnnouncedAndFound)
{
    for (Side* side : {&m_camera, &m_studio}) {
        start_bus(*side);
        start_daemon(*side);
    }
    const std::string address = "10.77.0.2/24";
    ASSERT_EQ(
        run_command({"ip", "-n", m_camera.ns, "addr", "del", address, "dev", "eth0"}, 30s).status,
        0);
    start_senders(m_camera, {"CAM"}, m_dir / "camera.log");
    // DHCP answers after the program started.
    ASSERT_EQ(
        run_command({"ip", "-n", m_camera.ns, "addr", "add", address, "dev", "eth0"}, 30s).status,
        0);
    const std::string watched = monitor_from_studio("CAM");
    EXPECT_TRUE(contains(watched, "video program: 640x360 SHQ2")) << watched;
}

// Both ends of a connection whose peer's program hangs (SIGSTOP) while its machine answers TCP:
// the heartbeat bound, measured.
TEST_F(StudioLink, HungSenderAndHungReceiverAreGivenUpWithinFiveSeconds)
{
    constexpr auto kBound = std::chrono::milliseconds(5s);
    const std::string backup_log = m_dir / "backup.log";
    start_senders(m_studio, {"BACKUP"}, backup_log);
    const std::string camera_log = m_dir / "camera.log";
    const pid_t camera = start_senders(
        m_camera, {"--failover", address_in(backup_log, "BACKUP"), "CAM"}, camera_log);
    const std::string monitor_log = m_dir / "monitor.log";
    const pid_t monitor =
        start(inside(m_studio, {kBin + "/ndi-monitor", address_in(camera_log, "CAM"), "--tally",
                                "program", "--connect-timeout", "20"}),
              monitor_log);
    ASSERT_TRUE(shows(camera_log, "tally CAM program=1 connections=1")) << read_text(monitor_log);

    const auto measure = [&](pid_t hung, const std::string& log, const std::string& part) {
        const auto start = std::chrono::steady_clock::now();
        ::kill(hung, SIGSTOP);
        EXPECT_TRUE(wait_until([&] { return contains(read_text(log), part); }, kBound))
            << read_text(log);
        std::cout << "given up after "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count()
                  << " ms: " << part << std::endl;
    };
    measure(camera, monitor_log, "connected to 'BACKUP'");
    ASSERT_TRUE(shows(backup_log, "tally BACKUP program=1 connections=1")) << read_text(backup_log);
    measure(monitor, backup_log, "tally BACKUP program=0 connections=0");
}

}  // namespace
}  // namespace vantor::test
