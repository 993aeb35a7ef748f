// The Debian package of the camera's programs (cpack in the host build): what it holds, which files
// an upgrade keeps, and encoder-app and platform-app unpacked from it running on the virtual board
// with the package's own default settings.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "board_script.h"
#include "support/temp_board_root.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::BoardScript;
using vantor::test::CommandResult;
using vantor::test::run_command;

const std::string kBin = VANTOR_BIN_DIR;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(BoardPackage, HoldsTheBoardFilesAndRunsUnpackedOnTheBoard)
{
    vantor::test::TempDir dir;
    const std::string packages = dir / "packages";
    const CommandResult packed = run_command(
        {"cpack", "-G", "DEB", "--config", kBin + "/../CPackConfig.cmake", "-B", packages}, 300s);
    ASSERT_EQ(packed.status, 0) << packed.output;
    const CommandResult found = run_command({"sh", "-c", "ls " + packages + "/*.deb"}, 10s);
    ASSERT_EQ(found.status, 0) << found.output;
    const std::string deb = found.output.substr(0, found.output.find('\n'));

    const CommandResult listing = run_command({"dpkg-deb", "--contents", deb}, 30s);
    ASSERT_EQ(listing.status, 0) << listing.output;
    const CommandResult conffiles = run_command({"dpkg-deb", "--info", deb, "conffiles"}, 30s);
    ASSERT_EQ(conffiles.status, 0) << conffiles.output;
    struct Entry {
        const char* path;
        bool kept_on_upgrade;
    };
    const Entry entries[] = {
        {"/usr/bin/encoder-app", false},
        {"/usr/bin/platform-app", false},
        {"/usr/bin/webui-app", false},
        {"/usr/share/vantor-webui/index.html", false},
        {"/lib/systemd/system/vantor-encoder.service", false},
        {"/lib/systemd/system/vantor-platform.service", false},
        {"/lib/systemd/system/vantor-webui.service", false},
        {"/etc/init.d/S90vantor", true},
        {"/etc/init.d/S91vantor-webui", true},
        {"/etc/vantor-enc1-settings.json", true},
        {"/etc/vantor-audio-settings.json", true},
        {"/etc/vantor-ptz-settings.json", true},
    };
    for (const Entry& entry : entries) {
        EXPECT_TRUE(contains(listing.output, std::string(" .") + entry.path + "\n")) << entry.path;
        EXPECT_EQ(contains(conffiles.output, std::string(entry.path) + "\n"), entry.kept_on_upgrade)
            << entry.path << " in conffiles:\n"
            << conffiles.output;
    }
    const CommandResult machine = run_command({"dpkg", "--print-architecture"}, 10s);
    const CommandResult architecture =
        run_command({"dpkg-deb", "--field", deb, "Architecture"}, 10s);
    EXPECT_EQ(architecture.output, machine.output);

    // Unpacked into a scratch root, which becomes the board root: the programs come from its
    // usr/bin, the settings from its etc; the simulators and tools from the build.
    const std::string root = dir / "root";
    const CommandResult unpacked = run_command({"dpkg-deb", "--extract", deb, root}, 60s);
    ASSERT_EQ(unpacked.status, 0) << unpacked.output;
    const std::string programs = dir / "bin";
    ASSERT_EQ(::mkdir(programs.c_str(), 0755), 0);
    for (const std::string name :
         {"encoder-app", "platform-app", "camera-sim", "speedhq-sim", "audio-sim", "ndi-monitor",
          "visca-ip", "fpga-sim", "webui-app"}) {
        const bool shipped = name == "encoder-app" || name == "platform-app" || name == "webui-app";
        std::string from = shipped ? root + "/usr/bin/" : kBin + "/";
        from += name;
        std::string link = programs + "/";
        link += name;
        ASSERT_EQ(::symlink(from.c_str(), link.c_str()), 0);
    }
    BoardScript script(
        VANTOR_SOURCE_DIR,
        {"--bin", programs, "--root", root, "--no-netns", "--no-status", "--duration", "5"},
        dir / "run.log");
    ASSERT_TRUE(script.started());
    EXPECT_EQ(script.wait_exit(180s), 0) << script.output();
    EXPECT_TRUE(contains(script.output(), "=== the virtual camera runs")) << script.output();
    EXPECT_TRUE(contains(vantor::test::read_text(root + "/var/log/platform-app.log"),
                         "Platform Rdy----Done !"));
}

}  // namespace
