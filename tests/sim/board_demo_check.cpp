#include "board_demo_check.h"

#include <cstdint>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "board_script.h"
#include "support/temp_board_root.h"

namespace vantor::test {

namespace {

// Width and height from a PNG file's IHDR chunk; 0 x 0 when it is no PNG.
struct PngSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

PngSize png_size(const std::string& path)
{
    const std::string bytes = read_text(path);
    const std::string signature = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 24 || bytes.compare(0, signature.size(), signature) != 0 ||
        bytes.compare(12, 4, "IHDR") != 0) {
        return {};
    }
    const auto big_endian = [&bytes](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
        }
        return value;
    };
    return {big_endian(16), big_endian(20)};
}

}  // namespace

void expect_demo_passes(const std::vector<std::string>& args, std::chrono::seconds deadline)
{
    TempDir dir;
    const std::string root = dir / "board";
    const std::string demo = dir / "demo";
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--root", root, "--demo", "--demo-dir", demo});
    BoardScript script(VANTOR_SOURCE_DIR, all, dir / "run.log");
    ASSERT_TRUE(script.started());
    EXPECT_EQ(script.wait_exit(deadline), 0) << script.output();
    const std::string log = read_text(demo + "/demo.log");

    // One line per step; each way in is there and none failed.
    const std::regex step_line("^(PASS|FAIL) +[0-9]+  ([^:]+):");
    int passed = 0;
    std::string steps;
    std::istringstream lines(log);
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, match, step_line)) {
            EXPECT_EQ(match[1], "PASS") << line;
            passed += match[1] == "PASS" ? 1 : 0;
            steps += match[2].str() + ";";
        }
    }
    EXPECT_EQ(steps,
              "ndi pan;ndi tilt;ndi zoom;ndi store preset;ndi recall preset;visca pan;visca tilt;"
              "visca zoom;visca store preset;visca recall preset;format 720p59.94;program picture;"
              "preview picture;tally program;tally preview;tally off;menu text;OSD picture;"
              "web page pictures;");
    EXPECT_NE(log.find("demo: " + std::to_string(passed) + " of " + std::to_string(passed) +
                       " steps came back as expected"),
              std::string::npos)
        << log;

    // The program picture after the format change, the preview and the 1080-line OSD plane.
    const PngSize program = png_size(demo + "/program.png");
    const PngSize preview = png_size(demo + "/preview.png");
    const PngSize osd = png_size(demo + "/osd.png");
    EXPECT_EQ(program.width, 1280U);
    EXPECT_EQ(program.height, 720U);
    EXPECT_EQ(preview.width, 640U);
    EXPECT_EQ(preview.height, 360U);
    EXPECT_GT(osd.width, 0U);
    EXPECT_GT(osd.height, 0U);
    EXPECT_NE(script.output().find("demo: pictures and log go to " + demo), std::string::npos)
        << script.output();
    for (const std::string& left : processes_mentioning(root)) {
        ADD_FAILURE() << "process left behind: " << left;
    }
}

}  // namespace vantor::test
