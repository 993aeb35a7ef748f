#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "auth.h"

class DashboardFeed;
class PreviewFeed;
class PtzDriver;

// One HTTP request as the server library hands it over: method, path (no query), the two headers
// the web UI reads, and the whole body (already limited in size).
struct http_request {
    std::string method;
    std::string path;
    std::string cookie;
    std::string csrf;  // X-CSRF-Token
    std::string body;
};

enum class response_kind { Body, Events };

struct http_response {
    int status = 200;
    std::string content_type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    response_kind kind = response_kind::Body;
};

inline constexpr std::size_t kMaxRequestBody = 8192;

// The headers every response carries: a Content-Security-Policy without inline script, no
// framing, no sniffing, no referrer, no caching.
const std::vector<std::pair<std::string, std::string>>& security_headers();

// The web UI's request handling: static pages from one folder, and the API below /api/.
//   GET  /api/state              {"passwordSet":..,"loggedIn":..,"csrf":".."}; sets the login
//                                token cookie for the first visit and the login form
//   POST /api/setup  password    the first password (only while none is set); logs in
//   POST /api/login  password    rate-limited
//   POST /api/logout
//   GET  /api/controls           the page controls (session)
//   GET  /api/values/<page>      the page's current values (session)
//   POST /api/values/<page>      "<file>|<key>"=value fields (session + CSRF)
//   GET  /api/dashboard          the dashboard snapshot (session)
//   GET  /api/events             the dashboard as server-sent events (session)
//   GET  /api/preview.jpg        the newest live preview picture as JPEG (session); its age in ms
//                                in X-Preview-Age-Ms
//   POST /api/ptz                action=move&pan=&tilt=&zoom=&focus= | action=store|recall&preset=
// Every POST needs the X-CSRF-Token header: the session's token, or before login the token of the
// login cookie (a cross-site page can neither read it nor set the header).
class RequestHandler {
public:
    RequestHandler(std::string page_folder, DashboardFeed* dashboard, PtzDriver* ptz);

    http_response handle(const http_request& request);

    // The live preview the page shows; none: /api/preview.jpg answers 503.
    void set_preview(PreviewFeed* preview) { m_preview = preview; }

    // The clock the sessions and the login limit see (tests move it).
    void set_clock(webui_clock::time_point (*now)()) { m_now = now; }

    // The dashboard snapshot as JSON.
    std::string dashboard_json() const;

private:
    http_response api(const http_request& request);
    http_response login(const http_request& request, bool first);
    http_response preview_picture();

    std::string m_page_folder;
    DashboardFeed* m_dashboard;
    PtzDriver* m_ptz;
    PreviewFeed* m_preview = nullptr;
    PasswordStore m_password;
    Sessions m_sessions;
    LoginLimiter m_limiter;
    webui_clock::time_point (*m_now)() = &webui_clock::now;
};
