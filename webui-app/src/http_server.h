#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>

class RequestHandler;
class DashboardFeed;
struct MHD_Daemon;

// The HTTP side: libmicrohttpd parses requests and keeps the connection and size limits; every
// request goes whole to the RequestHandler. A thread per connection, so a server-sent event stream
// may wait for the dashboard without holding up other requests.
class HttpServer {
public:
    static constexpr unsigned kMaxConnections = 32;
    static constexpr unsigned kMaxConnectionsPerAddress = 16;
    static constexpr std::size_t kConnectionMemory = 32 * 1024;  // headers and buffers
    static constexpr unsigned kIdleTimeoutSeconds = 30;

    HttpServer(RequestHandler& handler, const DashboardFeed* dashboard);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on `address`:`port` (port 0: one the system picks); false when it cannot.
    bool start(in_addr address, uint16_t port);
    // The port listened on.
    uint16_t port() const;
    void stop();

    // For the callbacks.
    RequestHandler& handler() { return m_handler; }
    const DashboardFeed* dashboard() const { return m_dashboard; }
    bool stopping() const { return m_stopping; }

private:
    RequestHandler& m_handler;
    const DashboardFeed* m_dashboard;
    MHD_Daemon* m_daemon = nullptr;
    std::atomic<bool> m_stopping{false};
};
