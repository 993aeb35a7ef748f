#pragma once

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "EncoderModel.h"
#include "vantor/unique_fd.h"

// Set by the signal handler: the server ends its loop and removes its sockets.
extern volatile std::sig_atomic_t g_speedhq_sim_stop;

// Serves the device protocol on a Unix stream socket (any number of connections sharing the one
// device, as with a character device opened twice) and text commands on an optional control
// socket and on standard input. One thread: a poll loop that also times the frame waits.
class Server {
public:
    struct Options {
        std::string socket_path;
        std::string control_path;  // empty: no control socket
        bool read_stdin = true;
    };

    Server(EncoderModel& model, Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Creates the listening sockets; the device socket appears at its path only once it accepts.
    bool start(std::string& error);
    // Runs until "quit", a signal, or a failure to encode; returns the exit status.
    int run();

private:
    struct DeviceClient {
        vantor::UniqueFd fd;
        std::uint8_t request[speedhq_protocol::kRequestSize] = {};
        std::size_t have = 0;
        bool waiting = false;
        EncoderModel::Clock::time_point since{};
    };
    struct ControlClient {
        vantor::UniqueFd fd;
        std::string input;
    };

    // Reads and serves what a device client has sent; false when it must be dropped.
    bool serve_device(DeviceClient& client);
    bool serve_request(DeviceClient& client);
    static bool send_reply(int fd, std::uint16_t kind, const EncoderModel::Reply& reply);
    // Runs each complete line of `input`; writes the replies to `out_fd`.
    void run_commands(std::string& input, int out_fd);

    EncoderModel& m_model;
    Options m_options;
    vantor::UniqueFd m_listen;
    vantor::UniqueFd m_control_listen;
    bool m_created_socket = false;
    bool m_created_control = false;
    bool m_stdin_open = false;
    std::string m_stdin_input;
    bool m_quit = false;
    std::vector<std::unique_ptr<DeviceClient>> m_clients;
    std::vector<std::unique_ptr<ControlClient>> m_controls;
};
