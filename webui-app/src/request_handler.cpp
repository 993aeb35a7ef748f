#include "request_handler.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "HelperLib/HelperLib.h"
#include "dashboard_feed.h"
#include "form_fields.h"
#include "json_text.h"
#include "preview_feed.h"
#include "ptz_driver.h"
#include "settings_catalog.h"
#include "settings_store.h"
#include "static_files.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

constexpr const char* kSessionCookie = "session";
constexpr const char* kLoginCookie = "login";

http_response json_response(int status, std::string body)
{
    http_response response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

http_response message(int status, const std::string& text)
{
    return json_response(status, "{\"message\":" + json_string(text) + "}");
}

std::string cookie_header(const char* name, const std::string& value, bool expire)
{
    return std::string(name) + "=" + value + "; Path=/; HttpOnly; SameSite=Strict" +
           (expire ? "; Max-Age=0" : "");
}

std::string first_line_of(const char* system_path)
{
    std::string text;
    (void)vantor::read_file(vantor::board_path(system_path), text);
    const std::size_t end = text.find_first_of("\r\n");
    return text.substr(0, std::min<std::size_t>(end, 64));
}

// The first IPv4 address that is not loopback, else the loopback one.
std::string own_address()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {};
    }
    std::string chosen;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
        const bool loopback = (ntohl(address.sin_addr.s_addr) >> 24) == 127;
        if (chosen.empty() || !loopback) {
            chosen = text;
        }
        if (!loopback) {
            break;
        }
    }
    ::freeifaddrs(list);
    return chosen;
}

bool direction_field(const std::map<std::string, std::string>& fields, const char* name, int& out)
{
    const auto found = fields.find(name);
    if (found == fields.end()) {
        out = 0;
        return true;
    }
    if (found->second == "-1" || found->second == "0" || found->second == "1") {
        out = std::atoi(found->second.c_str());
        return true;
    }
    return false;
}

// A page asking for its first picture waits this long for the receiver to connect.
constexpr std::chrono::milliseconds kPreviewFirstPictureWait{2000};

bool known_page(const std::string& page)
{
    return page == "video" || page == "audio" || page == "camera" || page == "ptz";
}

}  // namespace

const std::vector<std::pair<std::string, std::string>>& security_headers()
{
    static const std::vector<std::pair<std::string, std::string>> headers = {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; "
         "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    };
    return headers;
}

RequestHandler::RequestHandler(std::string page_folder, DashboardFeed* dashboard, PtzDriver* ptz)
    : m_page_folder(std::move(page_folder)), m_dashboard(dashboard), m_ptz(ptz)
{
}

http_response RequestHandler::handle(const http_request& request)
{
    if (request.body.size() > kMaxRequestBody) {
        return message(413, "the request is too large");
    }
    if (request.path.compare(0, 5, "/api/") == 0) {
        return api(request);
    }
    http_response response;
    if (request.method != "GET" && request.method != "HEAD") {
        return message(405, "pages are read-only");
    }
    if (!load_page_file(m_page_folder, request.path, response.body, response.content_type)) {
        return message(404, "no such page");
    }
    return response;
}

std::string RequestHandler::dashboard_json() const
{
    uint64_t sequence = 0;
    const std::string status = m_dashboard != nullptr ? m_dashboard->status(sequence) : "";
    const char* enc = "/etc/vantor-enc1-settings.json";
    return "{\"status\":" + json_string(status) + ",\"sequence\":" + std::to_string(sequence) +
           ",\"format\":" + json_string(GetJsonString(enc, "VideoFormat")) +
           ",\"sampling\":" + json_string(GetJsonString(enc, "VideoSampleRate")) +
           ",\"sourceName\":" + json_string(GetJsonString(enc, "StreamName")) +
           ",\"failoverSource\":" +
           json_string(first_line_of("/etc/vantor-source1-name-encfailover")) +
           ",\"hostName\":" + json_string(first_line_of("/etc/hostname")) +
           ",\"address\":" + json_string(own_address()) +
           ",\"firmware\":" + json_string(first_line_of("/etc/vantor-firmware-version")) + "}";
}

http_response RequestHandler::preview_picture()
{
    http_response response;
    long age_ms = 0;
    if (m_preview == nullptr ||
        !m_preview->newest_jpeg(response.body, age_ms, kPreviewFirstPictureWait)) {
        return message(503, "no preview picture from the camera's NDI source");
    }
    response.content_type = "image/jpeg";
    response.headers.emplace_back("X-Preview-Age-Ms", std::to_string(age_ms));
    return response;
}

http_response RequestHandler::login(const http_request& request, bool first)
{
    std::map<std::string, std::string> fields;
    if (!parse_form(request.body, fields) || fields.count("password") == 0) {
        return message(400, "malformed request");
    }
    const std::string& password = fields["password"];
    const auto now = m_now();
    if (first) {
        if (m_password.is_set()) {
            return message(409, "the password is already set; log in");
        }
        const std::string refusal = password_refusal(password);
        if (!refusal.empty()) {
            return message(400, refusal);
        }
        if (!m_password.set_first(password)) {
            return message(500, "the password could not be stored");
        }
    } else {
        const long wait = m_limiter.wait_seconds(now);
        if (wait > 0) {
            http_response refused =
                message(429, "too many failed logins; try again in " + std::to_string(wait) + " s");
            refused.headers.emplace_back("Retry-After", std::to_string(wait));
            return refused;
        }
        if (!m_password.verify(password)) {
            m_limiter.failed(now);
            return message(401, "wrong password");
        }
    }
    const std::string id = m_sessions.create(now);
    http_response response =
        json_response(200, "{\"csrf\":" + json_string(m_sessions.touch(id, now)) + "}");
    response.headers.emplace_back("Set-Cookie", cookie_header(kSessionCookie, id, false));
    return response;
}

http_response RequestHandler::api(const http_request& request)
{
    const auto now = m_now();
    const std::string session_id = cookie_value(request.cookie, kSessionCookie);
    const std::string session_csrf = session_id.empty() ? "" : m_sessions.touch(session_id, now);
    const bool logged_in = !session_csrf.empty();
    const std::string& path = request.path;
    const bool post = request.method == "POST";
    if (!post && request.method != "GET") {
        return message(405, "method not allowed");
    }

    if (path == "/api/state" && !post) {
        std::string login_token = cookie_value(request.cookie, kLoginCookie);
        http_response response;
        if (login_token.size() != 64) {
            login_token = random_token(32);
            response.headers.emplace_back("Set-Cookie",
                                          cookie_header(kLoginCookie, login_token, false));
        }
        response.body = std::string("{\"passwordSet\":") +
                        (m_password.is_set() ? "true" : "false") +
                        ",\"loggedIn\":" + (logged_in ? "true" : "false") +
                        ",\"csrf\":" + json_string(logged_in ? session_csrf : login_token) + "}";
        return response;
    }
    if (post) {
        const std::string& expected =
            logged_in ? session_csrf : cookie_value(request.cookie, kLoginCookie);
        if (!tokens_equal(request.csrf, expected)) {
            return message(403, "missing or wrong CSRF token; reload the page");
        }
    }
    if (post && (path == "/api/setup" || path == "/api/login")) {
        return login(request, path == "/api/setup");
    }
    if (!logged_in) {
        return message(401, "log in first");
    }
    if (post && path == "/api/logout") {
        m_sessions.end(session_id);
        http_response response = message(200, "logged out");
        response.headers.emplace_back("Set-Cookie", cookie_header(kSessionCookie, "", true));
        return response;
    }
    if (!post && path == "/api/controls") {
        return json_response(200, page_controls_json());
    }
    if (!post && path == "/api/dashboard") {
        return json_response(200, dashboard_json());
    }
    if (!post && path == "/api/events") {
        http_response response;
        response.kind = response_kind::Events;
        response.content_type = "text/event-stream";
        return response;
    }
    if (!post && path == "/api/preview.jpg") {
        return preview_picture();
    }
    if (path.compare(0, 12, "/api/values/") == 0 && known_page(path.substr(12))) {
        const std::string page = path.substr(12);
        if (!post) {
            return json_response(200, page_values_json(page));
        }
        std::map<std::string, std::string> fields;
        if (!parse_form(request.body, fields)) {
            return message(400, "malformed request");
        }
        const settings_write_result result =
            write_page_values(page, setting_pairs(fields.begin(), fields.end()));
        return message(result.ok ? 200 : 400, result.message);
    }
    if (post && path == "/api/ptz") {
        std::map<std::string, std::string> fields;
        if (!parse_form(request.body, fields)) {
            return message(400, "malformed request");
        }
        const std::string action = fields["action"];
        if (action == "move") {
            ptz_move move;
            if (!direction_field(fields, "pan", move.pan) ||
                !direction_field(fields, "tilt", move.tilt) ||
                !direction_field(fields, "zoom", move.zoom) ||
                !direction_field(fields, "focus", move.focus)) {
                return message(400, "a direction is -1, 0 or 1");
            }
            if (m_ptz == nullptr || !m_ptz->drive(move)) {
                return message(503, "the camera's VISCA-over-IP service did not take the move");
            }
            return message(200, "moving");
        }
        if (action == "store" || action == "recall") {
            const std::string& preset = fields["preset"];
            const int number = preset.size() == 1 ? preset[0] - '0' : 0;
            if (!PtzDriver::preset_request(action == "store", number)) {
                return message(400, "a preset is 1 to 9");
            }
            return message(200, action == "store" ? "preset stored" : "preset recalled");
        }
        return message(400, "unknown PTZ action");
    }
    return message(404, "no such request");
}
