#include "http_server.h"

#include <microhttpd.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "dashboard_feed.h"
#include "request_handler.h"

namespace {

// What one connection has received so far.
struct upload {
    std::string body;
    bool too_large = false;
};

// One server-sent event stream.
struct event_stream {
    explicit event_stream(HttpServer* owner) : server(owner) {}
    HttpServer* server;
    uint64_t sequence = ~uint64_t{0};  // nothing sent yet
    std::string pending;
    int quiet_passes = 0;
};

std::string header_value(MHD_Connection* connection, const char* name)
{
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value != nullptr ? value : "";
}

ssize_t read_events(void* cls, uint64_t /*pos*/, char* buffer, size_t max)
{
    auto* stream = static_cast<event_stream*>(cls);
    while (stream->pending.empty()) {
        if (stream->server->stopping()) {
            return MHD_CONTENT_READER_END_OF_STREAM;
        }
        const DashboardFeed* dashboard = stream->server->dashboard();
        uint64_t current = 0;
        if (dashboard != nullptr) {
            (void)dashboard->status(current);
        }
        if (current != stream->sequence) {
            stream->sequence = current;
            stream->pending = "data: " + stream->server->handler().dashboard_json() + "\n\n";
        } else if (dashboard == nullptr ||
                   !dashboard->wait_newer(current, std::chrono::milliseconds(1000))) {
            // A comment every 15 s keeps the connection from the idle timeout.
            if (++stream->quiet_passes >= 15) {
                stream->quiet_passes = 0;
                stream->pending = ": idle\n\n";
            }
        }
    }
    const std::size_t n = std::min(max, stream->pending.size());
    std::copy_n(stream->pending.data(), n, buffer);
    stream->pending.erase(0, n);
    return static_cast<ssize_t>(n);
}

void free_events(void* cls)
{
    delete static_cast<event_stream*>(cls);
}

MHD_Result queue(MHD_Connection* connection, HttpServer& server, const http_response& out,
                 bool head)
{
    MHD_Response* response = nullptr;
    if (out.kind == response_kind::Events) {
        response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 1024, &read_events,
                                                     new event_stream(&server), &free_events);
    } else {
        response = MHD_create_response_from_buffer(
            head ? 0 : out.body.size(), const_cast<char*>(out.body.data()), MHD_RESPMEM_MUST_COPY);
    }
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, "Content-Type", out.content_type.c_str());
    for (const auto& [name, value] : security_headers()) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    for (const auto& [name, value] : out.headers) {
        MHD_add_response_header(response, name.c_str(), value.c_str());
    }
    const MHD_Result result =
        MHD_queue_response(connection, static_cast<unsigned>(out.status), response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result on_request(void* cls, MHD_Connection* connection, const char* url, const char* method,
                      const char* /*version*/, const char* upload_data, size_t* upload_data_size,
                      void** con_cls)
{
    auto& server = *static_cast<HttpServer*>(cls);
    if (*con_cls == nullptr) {
        *con_cls = new upload;
        return MHD_YES;
    }
    auto& received = *static_cast<upload*>(*con_cls);
    if (*upload_data_size != 0) {
        if (received.body.size() + *upload_data_size > kMaxRequestBody) {
            received.too_large = true;
            received.body.clear();
        } else if (!received.too_large) {
            received.body.append(upload_data, *upload_data_size);
        }
        *upload_data_size = 0;
        return MHD_YES;
    }
    http_request request;
    request.method = method;
    request.path = url;
    request.cookie = header_value(connection, "Cookie");
    request.csrf = header_value(connection, "X-CSRF-Token");
    request.body = std::move(received.body);
    if (received.too_large) {
        request.body.assign(kMaxRequestBody + 1, ' ');  // the handler refuses it
    }
    const http_response response = server.handler().handle(request);
    return queue(connection, server, response, request.method == "HEAD");
}

void on_completed(void* /*cls*/, MHD_Connection* /*connection*/, void** con_cls,
                  MHD_RequestTerminationCode /*code*/)
{
    delete static_cast<upload*>(*con_cls);
    *con_cls = nullptr;
}

}  // namespace

HttpServer::HttpServer(RequestHandler& handler, const DashboardFeed* dashboard)
    : m_handler(handler), m_dashboard(dashboard)
{
}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::start(in_addr address, uint16_t port)
{
    sockaddr_in bind_to{};
    bind_to.sin_family = AF_INET;
    bind_to.sin_addr = address;
    bind_to.sin_port = htons(port);
    m_daemon = MHD_start_daemon(
        MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD, port, nullptr, nullptr,
        &on_request, this, MHD_OPTION_SOCK_ADDR, &bind_to, MHD_OPTION_CONNECTION_LIMIT,
        kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxConnectionsPerAddress,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
        kIdleTimeoutSeconds, MHD_OPTION_NOTIFY_COMPLETED, &on_completed, this, MHD_OPTION_END);
    return m_daemon != nullptr;
}

uint16_t HttpServer::port() const
{
    if (m_daemon == nullptr) {
        return 0;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info != nullptr ? info->port : 0;
}

void HttpServer::stop()
{
    if (m_daemon != nullptr) {
        m_stopping = true;
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
}
