// The synchronisation thread: its cycle and its pause rule.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/wait_until.h"
#include "webui_fixture.h"

namespace {

using namespace std::chrono_literals;
using vantor::test::wait_until;
using webui_test::is_block_inquiry;
using webui_test::WebUIFixture;

class WebUIThread : public WebUIFixture {
protected:
    void SetUp() override
    {
        WebUIFixture::SetUp();
        control.webui_step_period = 2ms;
        control.webui_pause_period = 1ms;
    }

    size_t block_inquiries()
    {
        size_t count = 0;
        for (const auto& p : camera->packets()) {
            count += is_block_inquiry(p) ? 1U : 0U;
        }
        return count;
    }
};

TEST_F(WebUIThread, FirstCycleReadsEveryBlockThenReconciles)
{
    control.init_Camcontrol();
    ASSERT_TRUE(wait_until([&] { return !control.bInitUI; }, 20s));
    // The first cycle: the seven block inquiries in order, nothing else.
    const auto sent = camera->packets();
    ASSERT_GE(sent.size(), 7U);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_TRUE(is_block_inquiry(sent[i])) << webui_test::hex(sent[i]);
        EXPECT_EQ(sent[i][4], 0x10 + i);
    }
}

TEST_F(WebUIThread, StandsAsideWhileAnotherSourceIsBusy)
{
    std::atomic<bool>* const sources[] = {&control.m_visca.m_visca_ndi_event_cond,
                                          &control.camcontrol_voip_det_cmd,
                                          &control.m_visca.vid_fmt_switch};
    control.init_Camcontrol();
    ASSERT_TRUE(wait_until([&] { return block_inquiries() >= 1; }, 20s));
    for (std::atomic<bool>* source : sources) {
        *source = true;
        ASSERT_TRUE(wait_until([&] { return control.camcontrol_webui_pause.load(); }, 20s));
        // A step already under way finishes; after that the counter and the line stay still.
        const int step = control.webui_step;
        const size_t sent = camera->packets().size();
        EXPECT_FALSE(camera->wait_for_packets(sent + 1, 300ms));
        EXPECT_EQ(control.webui_step, step);
        EXPECT_TRUE(control.camcontrol_webui_pause);
        *source = false;
        ASSERT_TRUE(wait_until([&] { return control.webui_step != step; }, 20s));
        ASSERT_TRUE(wait_until([&] { return !control.camcontrol_webui_pause; }, 20s));
    }
    const size_t before = block_inquiries();
    EXPECT_TRUE(wait_until([&] { return block_inquiries() > before; }, 20s));
}

}  // namespace
