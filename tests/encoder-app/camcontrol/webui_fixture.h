#pragma once

// A Camcontrol with its line on a scripted camera whose block-inquiry replies the test sets, and
// its settings files under a temporary board root.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../visca/fake_camera.h"
#include "camcontrol/Camcontrol.h"
#include "support/temp_board_root.h"

namespace webui_test {

using vantor::test::Bytes;

inline std::string hex(const Bytes& bytes)
{
    std::string text;
    for (const uint8_t b : bytes) {
        char part[4];
        std::snprintf(part, sizeof part, "%02X ", static_cast<unsigned>(b));
        text += part;
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

inline bool is_block_inquiry(const Bytes& p)
{
    return p.size() == 6 && p[1] == 0x09 && p[2] == 0x7E && p[3] == 0x7E;
}

class WebUIFixture : public ::testing::Test {
protected:
    WebUIFixture()
    {
        board.make_dir("/dev");
        board.make_dir("/etc");
        board.make_dir("/tmp");
        camera = std::make_unique<vantor::test::FakeCamera>(board / "/dev/ttyPS1");
        for (uint8_t b = 0x10; b <= 0x16; ++b) {
            auto& reply = blocks[b - 0x10];
            reply.fill(0);
            reply[0] = 0x90;
            reply[1] = 0x50;
            reply[2] = b;
            reply[15] = 0xFF;
        }
        camera->respond([this](const Bytes& packet, size_t) {
            const std::lock_guard<std::mutex> lock(mutex);
            if (is_block_inquiry(packet) && packet[4] >= 0x10 && packet[4] <= 0x16) {
                const auto& reply = blocks[packet[4] - 0x10];
                return std::vector<Bytes>{Bytes(reply.begin(), reply.end())};
            }
            if (complete) {
                return std::vector<Bytes>{vantor::test::ack_packet(),
                                          vantor::test::completion_packet()};
            }
            return std::vector<Bytes>{vantor::test::ack_packet()};
        });
    }
    ~WebUIFixture() override { control.deinit_Camcontrol(); }

    void SetUp() override
    {
        ASSERT_TRUE(camera->ok());
        ASSERT_EQ(control.m_visca.init_visca(), 1);
    }

    void set_block_byte(uint8_t block, int index, uint8_t value)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        blocks[block - 0x10][static_cast<size_t>(index)] = value;
    }

    // The command packets (not inquiries) the camera received from packet `from` on.
    std::vector<std::string> commands_since(size_t from)
    {
        std::vector<std::string> out;
        const auto all = camera->packets();
        for (size_t i = from; i < all.size(); ++i) {
            if (all[i].size() > 2 && all[i][1] == 0x01) {
                out.push_back(hex(all[i]));
            }
        }
        return out;
    }

    // One whole cycle of the synchronisation thread, without its pauses.
    void run_cycle()
    {
        for (int step = 0; step < 14; ++step) {
            control.webui_cycle_step(step);
            control.PTZGetWebUIValues();
        }
    }

    vantor::test::TempBoardRoot board;
    std::unique_ptr<vantor::test::FakeCamera> camera;
    Camcontrol control;
    std::mutex mutex;
    std::array<std::array<uint8_t, 16>, 7> blocks{};
    bool complete = true;  // guarded by mutex
};

}  // namespace webui_test
