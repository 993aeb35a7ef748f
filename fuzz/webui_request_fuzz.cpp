// The web page's request handling as the HTTP library hands requests over: method, path, cookie,
// CSRF header and body from the fuzz input, against a handler with a password set and one live
// session whose cookie and token the input may choose to present. Rules: a state-changing request
// without the session's token is never accepted, a page outside the folder never served, and the
// settings file's bytes outside its values never change.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/stat.h>

#include "request_handler.h"
#include "support/fuzz_input.h"
#include "support/temp_root.h"
#include "vantor/board_root.h"
#include "vantor/file_io.h"

namespace {

constexpr const char* kWb = "/etc/vantor-wb-setup.json";
constexpr const char* kWbText = R"({"WbMode":"AUTO","RedGain":"128","Select":"STD"})";

struct Fixture {
    vantor::fuzz::TempRoot root;
    std::string pages = root.path() + "/pages";
    RequestHandler handler{pages, nullptr, nullptr};
    std::string session_cookie;
    std::string session_csrf;

    Fixture()
    {
        (void)vantor::replace_file_atomically(pages + "/index.html", "<!DOCTYPE html>");
        (void)vantor::replace_file_atomically(root.path() + "/secret.js", "secret");
        (void)vantor::replace_file_atomically(root.path() + "/etc/page.js", "secret");
        if (!open_session("/api/setup")) {
            std::abort();
        }
    }

    // Sets the password (first) or logs in with it, as a browser does; true with a session.
    bool open_session(const char* path)
    {
        const http_response state = handler.handle({"GET", "/api/state", "", "", ""});
        const http_response answer =
            handler.handle({"POST", path, cookie_of(state), csrf_of(state), "password=fuzzing-pw"});
        session_cookie = cookie_of(answer);
        session_csrf = csrf_of(answer);
        return answer.status == 200 && !session_csrf.empty();
    }

    static std::string cookie_of(const http_response& response)
    {
        for (const auto& [name, value] : response.headers) {
            if (name == "Set-Cookie") {
                return value.substr(0, value.find(';'));
            }
        }
        return {};
    }
    static std::string csrf_of(const http_response& response)
    {
        const std::size_t at = response.body.find(R"("csrf":")");
        return at == std::string::npos ? "" : response.body.substr(at + 8, 64);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Fixture fixture;
    static const char* const kMethods[] = {"GET", "POST", "HEAD", "PUT"};
    (void)::mkdir(fixture.pages.c_str(), 0700);
    if (!vantor::replace_file_atomically(vantor::board_path(kWb), kWbText)) {
        std::abort();
    }
    vantor::fuzz::FuzzInput input(data, size);
    const uint8_t choice = input.byte();
    http_request request;
    request.method = kMethods[choice % 4];
    request.path = input.text();
    request.cookie = (choice & 0x10) != 0 ? fixture.session_cookie : input.text();
    const bool real_token = (choice & 0x20) != 0;
    request.csrf = real_token ? fixture.session_csrf : input.text();
    request.body.assign(reinterpret_cast<const char*>(input.rest()), input.rest_size());

    const http_response response = fixture.handler.handle(request);
    if (request.method == "POST" && !real_token && request.path != "/api/login" &&
        response.status == 200) {
        std::abort();  // a change accepted without the session's token
    }
    if (request.path.compare(0, 5, "/api/") != 0 && response.status == 200 &&
        response.body != "<!DOCTYPE html>") {
        std::abort();  // something other than the folder's one page served
    }
    std::string text;
    if (!vantor::read_file(vantor::board_path(kWb), text) || text.size() < 20 ||
        text.compare(0, 11, R"({"WbMode":")") != 0 || text.back() != '}') {
        std::abort();  // the file's structure broken by a write
    }
    if (request.path == "/api/logout" && response.status == 200) {
        // Logged out: a session for the next inputs (unless failed logins hold the login back).
        (void)fixture.open_session("/api/login");
    }
    return 0;
}
