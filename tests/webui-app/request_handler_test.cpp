#include "request_handler.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "form_fields.h"
#include "support/temp_board_root.h"

namespace {

using vantor::test::TempBoardRoot;
using vantor::test::TempDir;
using vantor::test::write_text;

webui_clock::time_point test_now;
webui_clock::time_point fake_now()
{
    return test_now;
}

std::string set_cookie(const http_response& response)
{
    for (const auto& [name, value] : response.headers) {
        if (name == "Set-Cookie") {
            return value.substr(0, value.find(';'));
        }
    }
    return {};
}

std::string csrf_of(const http_response& response)
{
    const std::size_t at = response.body.find(R"("csrf":")");
    return at == std::string::npos ? "" : response.body.substr(at + 8, 64);
}

class WebUiHandler : public ::testing::Test {
protected:
    void SetUp() override
    {
        root.make_dir("/etc");
        root.make_dir("/tmp");
        write_text(pages / "index.html", "<!DOCTYPE html>");
        write_text(pages / "app.js", "'use strict';");
        handler.set_clock(&fake_now);
        test_now = webui_clock::time_point{} + std::chrono::hours(1);
    }

    http_response call(const std::string& method, const std::string& path,
                       const std::string& body = "", const std::string& csrf = "")
    {
        return handler.handle({method, path, cookies, csrf, body});
    }

    // The login token of the first visit, kept as a browser keeps its cookie.
    std::string visit()
    {
        const http_response state = call("GET", "/api/state");
        if (!set_cookie(state).empty()) {
            cookies = set_cookie(state);
        }
        return csrf_of(state);
    }

    std::string log_in_first(const std::string& password)
    {
        const std::string token = visit();
        const http_response setup = call("POST", "/api/setup", "password=" + password, token);
        EXPECT_EQ(setup.status, 200) << setup.body;
        cookies += "; " + set_cookie(setup);
        return csrf_of(setup);
    }

    TempBoardRoot root;
    TempDir pages;
    RequestHandler handler{pages.path(), nullptr, nullptr};
    std::string cookies;
};

TEST_F(WebUiHandler, FirstVisitSetsThePasswordThenOnlyLoginOpensASession)
{
    const std::string token = visit();
    EXPECT_NE(call("GET", "/api/state").body.find("\"passwordSet\":false"), std::string::npos);
    EXPECT_EQ(call("POST", "/api/setup", "password=short", token).status, 400);
    const std::string csrf = log_in_first("correct horse");
    EXPECT_EQ(csrf.size(), 64U);
    EXPECT_EQ(call("GET", "/api/controls").status, 200);
    // The stored password is a salted Argon2id hash, never the text.
    const std::string stored = vantor::test::read_text(root / kPasswordFile);
    EXPECT_EQ(stored.rfind("$argon2id$", 0), 0U) << stored;
    EXPECT_EQ(stored.find("correct horse"), std::string::npos);
    // A second setup is refused, even with a valid token.
    EXPECT_EQ(call("POST", "/api/setup", "password=another one", csrf).status, 409);

    // A fresh browser must log in with the password.
    cookies.clear();
    const std::string login_token = visit();
    EXPECT_EQ(call("GET", "/api/controls").status, 401);
    EXPECT_EQ(call("POST", "/api/login", "password=wrong%20one", login_token).status, 401);
    const http_response login = call("POST", "/api/login", "password=correct+horse", login_token);
    ASSERT_EQ(login.status, 200) << login.body;
    const std::string cookie = set_cookie(login);
    EXPECT_EQ(cookie.rfind("session=", 0), 0U);
    bool strict = false;
    for (const auto& [name, value] : login.headers) {
        strict = strict || (name == "Set-Cookie" && value.find("HttpOnly") != std::string::npos &&
                            value.find("SameSite=Strict") != std::string::npos);
    }
    EXPECT_TRUE(strict);
}

TEST_F(WebUiHandler, RefusesRequestsWithoutSessionOrToken)
{
    const std::string csrf = log_in_first("correct horse");
    const std::string session_cookies = cookies;
    const std::string save = "%2Fetc%2Fvantor-wb-setup.json%7CWbMode=AUTO";
    struct Case {
        const char* what;
        std::string cookie;
        std::string token;
        int status;
    };
    const Case cases[] = {
        {"no session, no token", "", "", 403},
        {"no session, a session's token", "", csrf, 403},
        {"session, no token", session_cookies, "", 403},
        {"session, wrong token", session_cookies, std::string(64, 'a'), 403},
        {"forged session", "session=" + std::string(64, 'b'), csrf, 403},
    };
    for (const Case& c : cases) {
        cookies = c.cookie;
        EXPECT_EQ(call("POST", "/api/values/camera", save, c.token).status, c.status) << c.what;
        EXPECT_EQ(call("POST", "/api/ptz", "action=store&preset=1", c.token).status, c.status)
            << c.what;
    }
    cookies = "";
    EXPECT_EQ(call("GET", "/api/values/camera").status, 401);
    EXPECT_EQ(call("GET", "/api/events").status, 401);
    EXPECT_EQ(call("GET", "/api/preview.jpg").status, 401);
    cookies = session_cookies;
    EXPECT_EQ(
        call("POST", "/api/values/camera", std::string(kMaxRequestBody + 1, 'x'), csrf).status,
        413);
    EXPECT_EQ(call("POST", "/api/values/camera", "%zz=1", csrf).status, 400);
    EXPECT_EQ(call("DELETE", "/api/state").status, 405);
    // Logged out, the same cookie opens nothing.
    EXPECT_EQ(call("POST", "/api/logout", "", csrf).status, 200);
    EXPECT_EQ(call("GET", "/api/controls").status, 401);
}

TEST_F(WebUiHandler, LoginsAreLimitedWhateverThePassword)
{
    log_in_first("correct horse");
    cookies.clear();
    const std::string token = visit();
    for (std::size_t i = 0; i < LoginLimiter::kAttempts; ++i) {
        EXPECT_EQ(call("POST", "/api/login", "password=guess" + std::to_string(i), token).status,
                  401);
    }
    const http_response refused = call("POST", "/api/login", "password=correct+horse", token);
    EXPECT_EQ(refused.status, 429);
    EXPECT_NE(refused.body.find("try again in 60 s"), std::string::npos) << refused.body;
    test_now += LoginLimiter::kWindow - std::chrono::seconds(1);
    EXPECT_EQ(call("POST", "/api/login", "password=correct+horse", token).status, 429);
    test_now += std::chrono::seconds(1);
    EXPECT_EQ(call("POST", "/api/login", "password=correct+horse", token).status, 200);
}

TEST_F(WebUiHandler, ServesOnlyPlainFilesOfThePageFolder)
{
    write_text(root / "/etc/secret.js", "secret");
    ASSERT_EQ(::symlink((root / "/etc/secret.js").c_str(), (pages / "link.js").c_str()), 0);
    ASSERT_EQ(::mkfifo((pages / "pipe.js").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((pages / "sub").c_str(), 0700), 0);
    write_text(pages / "sub/app.js", "nested");
    const struct {
        const char* path;
        int status;
    } cases[] = {
        {"/", 200},           {"/app.js", 200},      {"/index.html", 200}, {"/link.js", 404},
        {"/pipe.js", 404},    {"/sub/app.js", 404},  {"/../app.js", 404},  {"/..%2fapp.js", 404},
        {"/APP.js", 404},     {"/app.js.bak", 404},  {"/.app.js", 404},    {"app.js", 404},
        {"/missing.js", 404}, {"//etc/passwd", 404},
    };
    for (const auto& c : cases) {
        const http_response response = call("GET", c.path);
        EXPECT_EQ(response.status, c.status) << c.path;
        EXPECT_EQ(response.body.find("secret"), std::string::npos) << c.path;
    }
    EXPECT_EQ(call("GET", "/app.js").content_type, "text/javascript; charset=utf-8");
    EXPECT_EQ(call("POST", "/app.js").status, 405);
    bool csp = false;
    for (const auto& [name, value] : security_headers()) {
        csp = csp || (name == "Content-Security-Policy" &&
                      value.find("script-src 'self'") != std::string::npos &&
                      value.find("unsafe-inline") == std::string::npos);
    }
    EXPECT_TRUE(csp);
}

TEST(WebUiForm, ParsesOrRefusesWholeBodies)
{
    std::map<std::string, std::string> fields;
    EXPECT_TRUE(parse_form("a=1&b=x+y%21&c=", fields));
    EXPECT_EQ(fields, (std::map<std::string, std::string>{{"a", "1"}, {"b", "x y!"}, {"c", ""}}));
    for (const char* bad : {"a", "=1", "a=1&a=2", "a=%4", "a=%G0", "a=%00", "a=1&&b=2"}) {
        EXPECT_FALSE(parse_form(bad, fields)) << bad;
        EXPECT_TRUE(fields.empty()) << bad;
    }
    EXPECT_EQ(cookie_value("login=abc; session=def", "session"), "def");
    EXPECT_EQ(cookie_value("xsession=1; session = two ", "session"), "two");
    EXPECT_EQ(cookie_value("login=abc", "session"), "");
}

}  // namespace
