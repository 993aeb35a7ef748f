#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "fake_camera.h"
#include "support/temp_board_root.h"
#include "visca/visca.h"

namespace vantor::test {

// The engine running on a line to a camera scripted by the test, below a temporary board root.
class EngineOnFakeCamera : public ::testing::Test {
protected:
    EngineOnFakeCamera()
    {
        board.make_dir("/dev");
        camera = std::make_unique<FakeCamera>(board / "/dev/ttyPS1");
    }
    void SetUp() override
    {
        ASSERT_TRUE(camera->ok());
        ASSERT_EQ(engine.init_visca(), 1);
    }
    void TearDown() override { engine.deinit_visca(); }

    TempBoardRoot board;
    std::unique_ptr<FakeCamera> camera;
    visca engine;
};

}  // namespace vantor::test
