// Bounds a sender keeps per peer: connections per address and before their hello, messages a
// receiver may send, its share of the captured metadata; and a refused receiver's back-off.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec.h"
#include "ndi_test_util.h"
#include "net.h"

namespace vantor::test {
namespace {

// A client of the sender from `source`, an address of the loopback network (127.0.0.0/8).
std::unique_ptr<RawClient> client_from(const std::string& source, NDIlib_send_instance_t sender)
{
    auto client = std::make_unique<RawClient>(address_of(sender), 0, false);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &addr.sin_addr);
    EXPECT_EQ(::bind(client->fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_TRUE(client->connect_now());
    return client;
}

struct ConnectionBound {
    const char* name;
    bool greet;   // the connections filling the bound say hello
    bool spread;  // they come from as many addresses (127.0.0.1, 127.0.0.2, ...)
    const char* reason;
};

class SenderConnectionBound : public NdiTest,
                              public ::testing::WithParamInterface<ConnectionBound> {};

TEST_P(SenderConnectionBound, OneMoreIsRefusedWithOneLineOtherAddressesServed)
{
    const ConnectionBound& bound = GetParam();
    StdoutCapture output;
    SenderPtr sender = make_sender("bounded");
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 16; ++i) {
        const int host = bound.spread ? 1 + i : 1;
        clients.push_back(client_from("127.0.0." + std::to_string(host), sender.get()));
        if (bound.greet) {
            ASSERT_TRUE(clients.back()->send_hello());
        }
    }
    if (bound.greet) {
        ASSERT_TRUE(wait_for_connections(sender.get(), 16));
    }
    const std::unique_ptr<RawClient> over = client_from("127.0.0.1", sender.get());
    over->send_hello();  // fails when the sender has closed it already
    EXPECT_TRUE(over->wait_closed());
    EXPECT_TRUE(wait_until([&] { return !output.lines_with("refused").empty(); }));
    const std::vector<std::string> lines = output.lines_with("ndi:");
    ASSERT_EQ(lines.size(), 1U) << output.text();
    EXPECT_NE(lines[0].find(bound.reason), std::string::npos) << lines[0];

    // Once the waiting ones have said hello, another address is still served.
    for (const auto& client : clients) {
        ASSERT_TRUE(bound.greet || client->send_hello());
    }
    ASSERT_TRUE(wait_for_connections(sender.get(), 16));
    const std::unique_ptr<RawClient> other = client_from("127.0.0.200", sender.get());
    ASSERT_TRUE(other->send_hello());
    EXPECT_TRUE(wait_for_connections(sender.get(), 17));
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, SenderConnectionBound,
    ::testing::Values(ConnectionBound{"PerAddress", true, false,
                                      "refused: already 16 connections from this address"},
                      ConnectionBound{"BeforeHello", false, true,
                                      "refused: already 16 connections before their hello"}),
    [](const ::testing::TestParamInfo<ConnectionBound>& param) { return param.param.name; });

// A sender that closes every connection before answering the hello: the receiver waits longer
// after each refusal. Each wait is a lower bound, so a slow machine cannot break it.
TEST_F(NdiTest, RefusedReceiverBacksOff)
{
    std::uint16_t port = 0;
    std::string error;
    const UniqueFd listening = vantor::ndi::listen_tcp("127.0.0.1", port, error);
    ASSERT_TRUE(listening) << error;
    const std::string address = "127.0.0.1:" + std::to_string(port);
    const NDIlib_source_t source(nullptr, address.c_str());
    const NDIlib_recv_create_v3_t settings(source);
    const ReceiverPtr receiver(NDIlib_recv_create_v3(&settings));
    ASSERT_TRUE(receiver);

    const std::chrono::milliseconds waits[] = {
        std::chrono::milliseconds(100), std::chrono::milliseconds(200),
        std::chrono::milliseconds(400), std::chrono::milliseconds(800)};
    std::vector<std::chrono::steady_clock::time_point> attempts;
    while (attempts.size() < std::size(waits) + 1) {
        UniqueFd accepted;
        ASSERT_TRUE(wait_until([&] {
            accepted = UniqueFd(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
            return accepted.valid();
        }));
        attempts.push_back(std::chrono::steady_clock::now());
    }
    for (std::size_t i = 0; i < std::size(waits); ++i) {
        EXPECT_GE(attempts[i + 1] - attempts[i], waits[i]) << "after refusal " << i + 1;
    }
}

// A receiver flooding the sender with tally messages is read no faster than its budget, stays
// connected and is read on once the interval has passed: its last message arrives.
TEST_F(NdiTest, FloodingReceiverIsReadAtItsBudget)
{
    StdoutCapture output;
    SenderPtr sender = make_sender("flooded");
    RawClient flooder(address_of(sender.get()));
    std::vector<std::uint8_t> bytes = vantor::ndi::encode_hello(0, "flooder");
    for (int i = 0; i < 600; ++i) {
        const std::vector<std::uint8_t> tally =
            vantor::ndi::encode_tally(NDIlib_tally_t(i % 2 == 0, false));
        bytes.insert(bytes.end(), tally.begin(), tally.end());
    }
    const std::vector<std::uint8_t> last = vantor::ndi::encode_metadata("<after flood/>", 0);
    bytes.insert(bytes.end(), last.begin(), last.end());
    ASSERT_TRUE(flooder.send_bytes(bytes));

    EXPECT_TRUE(wait_until([&] {
        return !output.lines_with("sent 256 messages within 1 s; reading it pauses").empty();
    })) << output.text();
    EXPECT_EQ(next_captured(sender.get()), "<after flood/>");
    EXPECT_EQ(NDIlib_send_get_no_connections(sender.get(), 0), 1);
    EXPECT_EQ(output.lines_with("ndi:").size(), 1U) << output.text();
}

// A receiver sending more metadata than the capture queue holds pushes out its own, not the PTZ
// command another receiver sent before.
TEST_F(NdiTest, ChattyReceiverDoesNotPushOutAnothersCapturedMetadata)
{
    SenderPtr sender = make_sender("shared");
    ReceiverPtr controller = make_receiver(sender.get());
    ReceiverPtr chatty = make_receiver(sender.get());
    ASSERT_TRUE(wait_for_connections(sender.get(), 2));
    // Each receiver's tally follows its metadata on the same connection: once the sender shows
    // it, the metadata before it is queued.
    const auto tally_shown = [&sender](NDIlib_recv_instance_type* receiver, bool program) {
        const NDIlib_tally_t tally(program, !program);
        NDIlib_recv_set_tally(receiver, &tally);
        return wait_until([&] {
            NDIlib_tally_t shown;
            NDIlib_send_get_tally(sender.get(), &shown, 10);
            return program ? shown.on_program : shown.on_preview;
        });
    };
    char command[] = "<ntk_ptz_pan_tilt_speed pan_speed=\"0.5\"/>";
    const NDIlib_metadata_frame_t command_frame(0, 0, command);
    ASSERT_TRUE(NDIlib_recv_send_metadata(controller.get(), &command_frame));
    ASSERT_TRUE(tally_shown(controller.get(), true));
    char chatter[] = "<chatter/>";
    const NDIlib_metadata_frame_t chatter_frame(0, 0, chatter);
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(NDIlib_recv_send_metadata(chatty.get(), &chatter_frame));
    }
    ASSERT_TRUE(tally_shown(chatty.get(), false));

    std::vector<std::string> captured;
    for (std::optional<std::string> text; (text = next_captured(sender.get(), {}));) {
        captured.push_back(*text);
    }
    EXPECT_EQ(captured.size(), 256U);
    EXPECT_EQ(std::count(captured.begin(), captured.end(), command), 1);
}

}  // namespace
}  // namespace vantor::test
