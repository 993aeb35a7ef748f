// webui-app: the camera's web page. Serves the pages and the settings API on port 80 of every
// address (VANTOR_WEBUI_PORT and VANTOR_BIND_ADDRESS override both on the virtual board), reads the
// dashboard pipe and drives PTZ moves through the camera's VISCA-over-IP service. Ends on SIGINT or
// SIGTERM with status 0.
#include <arpa/inet.h>
#include <pthread.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Processing.NDI.Lib.h"
#include "dashboard_feed.h"
#include "http_server.h"
#include "preview_feed.h"
#include "ptz_driver.h"
#include "request_handler.h"
#include "vantor/bind_address.h"

namespace {

constexpr const char* kDefaultPages = "/usr/share/vantor-webui";
constexpr uint16_t kDefaultPort = 80;

uint16_t listen_port()
{
    const char* text = std::getenv("VANTOR_WEBUI_PORT");
    if (text == nullptr || *text == '\0') {
        return kDefaultPort;
    }
    const long port = std::strtol(text, nullptr, 10);
    return port >= 0 && port <= 65535 ? static_cast<uint16_t>(port) : kDefaultPort;
}

}  // namespace

int main()
{
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGPIPE);
    // Every thread started from here on inherits the mask; the main thread waits for the signal.
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    const char* pages = std::getenv("VANTOR_WEBUI_PAGES");
    DashboardFeed dashboard;
    (void)dashboard.start();
    PtzDriver ptz;
    RequestHandler handler(pages != nullptr && *pages != '\0' ? pages : kDefaultPages, &dashboard,
                           &ptz);
    (void)NDIlib_initialize();
    PreviewFeed preview;
    preview.start();
    handler.set_preview(&preview);
    HttpServer server(handler, &dashboard);

    in_addr address{};
    address.s_addr = htonl(INADDR_ANY);
    if (const auto bound = vantor::bind_address()) {
        address = *bound;
    }
    if (!server.start(address, listen_port())) {
        std::printf("webui-app: cannot listen on port %u\n", static_cast<unsigned>(listen_port()));
        return 1;
    }
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    std::printf("webui-app: serving http://%s:%u/\n", text, static_cast<unsigned>(server.port()));
    std::fflush(stdout);

    int signal_number = 0;
    do {
        sigwait(&stop_signals, &signal_number);
    } while (signal_number == SIGPIPE);
    server.stop();
    preview.stop();
    dashboard.stop();
    return 0;
}
