#pragma once

// A transmitter on its own board root, its encoder device a scripted fake, with helpers to run the
// frame thread alone and to wait on conditions with a deadline.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NdiTransmitter/NdiTransmitter.h"
#include "fake_encoder.h"
#include "support/count_of.h"
#include "support/temp_board_root.h"
#include "support/wait_until.h"

namespace vantor::test {

// The pictures the frame thread queued, in queue order, without the end marks.
struct Queued {
    std::vector<std::shared_ptr<NdiTransmitter::frame_t>> program;
    std::vector<std::shared_ptr<NdiTransmitter::frame_t>> preview;
};

class PipelineFixture : public ::testing::Test {
protected:
    PipelineFixture()
    {
        m_root.make_dir("/dev");
        m_root.make_dir("/etc");
        m_tx.frame_wait_retry_pause = std::chrono::milliseconds(2);
        m_tx.settings_period = std::chrono::milliseconds(5);
    }

    std::string device_path() const { return m_root / "/dev/vantor-speedhq"; }

    // Starts the fake device and opens it.
    void open_fake()
    {
        m_fake = std::make_unique<FakeEncoder>(device_path());
        m_tx.map_NdiTransmitter_mem(0);
        ASSERT_TRUE(m_tx.m_vantorspeedhqDevice.is_open());
    }

    // Frames with rotating buffer indices; program picture i (from 1) has 1000 + i bytes, preview
    // 100 + i, so that a queued picture tells which frame it came from.
    void script_frames(int count, int first = 1)
    {
        for (int i = first; i < first + count; ++i) {
            ScriptedFrame frame;
            frame.index = (i - 1) % 5 + 1;
            frame.previous = (i + 3) % 5 + 1;
            frame.program = speedhq_picture(1000 + static_cast<std::size_t>(i));
            frame.preview = speedhq_picture(100 + static_cast<std::size_t>(i));
            frame.field = (i - 1) % 2;
            m_fake->add(frame);
        }
    }

    // Runs the frame thread alone until the fake has handed out every scripted frame and a wait
    // has failed after them, then stops it and returns what it queued.
    Queued run_frame_thread()
    {
        const int failed_before = m_fake->failed_waits();
        m_tx.encodeRunning.store(true);
        std::thread frame_thread(&NdiTransmitter::wait_ndi_frame, &m_tx);
        EXPECT_TRUE(wait_until(
            [&] { return m_fake->frames_left() == 0 && m_fake->failed_waits() > failed_before; }));
        m_tx.encodeRunning.store(false);
        frame_thread.join();
        return drain();
    }

    // Empties both queues; every queue must end with exactly one end mark.
    Queued drain()
    {
        Queued queued;
        drain_one(m_tx.m_ndi_full_send_queue, queued.program);
        drain_one(m_tx.m_ndi_prvw_send_queue, queued.preview);
        return queued;
    }

    static std::vector<int> sizes(const std::vector<std::shared_ptr<NdiTransmitter::frame_t>>& v)
    {
        std::vector<int> result;
        result.reserve(v.size());
        for (const auto& frame : v) {
            result.push_back(frame->frame_data_size);
        }
        return result;
    }

    TempBoardRoot m_root;
    std::unique_ptr<FakeEncoder> m_fake;
    NdiTransmitter m_tx;  // declared last: stops its threads before the device goes

private:
    static void drain_one(std::queue<std::shared_ptr<NdiTransmitter::frame_t>>& queue,
                          std::vector<std::shared_ptr<NdiTransmitter::frame_t>>& out)
    {
        ASSERT_FALSE(queue.empty());
        while (queue.size() > 1) {
            EXPECT_TRUE(queue.front() != nullptr);
            out.push_back(queue.front());
            queue.pop();
        }
        EXPECT_TRUE(queue.front() == nullptr) << "the end mark comes last";
        queue.pop();
    }
};

}  // namespace vantor::test
