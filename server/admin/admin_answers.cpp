#include "server/admin/admin_answers.h"

#include <time.h>

#include <algorithm>

#include "server/admin/admin_auth.h"

namespace {

const char kHtmlType[] = "text/html; charset=utf-8";

void ReplaceHeader(httplib::Response& res, const char* name, const std::string& value)
{
    res.headers.erase(name);
    res.set_header(name, value);
}

}  // namespace

thread_local RequestSession g_current;

int64_t GetEpochSeconds()
{
    return static_cast<int64_t>(time(nullptr));
}

void SetSecurityHeaders(httplib::Response& res)
{
    ReplaceHeader(res, "Content-Security-Policy", kAdminContentSecurityPolicy);
    ReplaceHeader(res, "X-Frame-Options", "DENY");
    ReplaceHeader(res, "X-Content-Type-Options", "nosniff");
    ReplaceHeader(res, "Referrer-Policy", "no-referrer");
    if (!res.has_header("Cache-Control"))
        res.set_header("Cache-Control", "no-store");
}

std::string ReadCookie(const httplib::Request& req, const std::string& name)
{
    const std::string header = req.get_header_value("Cookie");
    size_t at = 0;
    while (at < header.size()) {
        while (at < header.size() && (header[at] == ' ' || header[at] == ';'))
            ++at;
        const size_t end = std::min(header.find(';', at), header.size());
        const size_t equals = header.find('=', at);
        if (equals < end && header.compare(at, equals - at, name) == 0 && equals - at == name.size())
            return header.substr(equals + 1, end - equals - 1);
        at = end;
    }
    return std::string();
}

std::string MakeCookie(const AdminService& service, const std::string& name, const std::string& value,
                       const char* path, bool expire)
{
    std::string cookie = name + "=" + value + "; Path=" + path + "; HttpOnly; SameSite=Strict";
    if (service.secureCookies)
        cookie += "; Secure";
    if (expire)
        cookie += "; Max-Age=0";
    return cookie;
}

void AnswerPage(httplib::Response& res, int status, const std::string& html)
{
    res.status = status;
    res.set_content(html, kHtmlType);
}

void AnswerText(httplib::Response& res, int status, const std::string& text)
{
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

PageFrame MakeFrame(const std::string& message)
{
    PageFrame frame;
    frame.user = g_current.session.user;
    frame.csrfToken = g_current.session.csrfToken;
    frame.message = message;
    return frame;
}


void AddPost(httplib::Server& server, const char* pattern, Handler handler)
{
    server.Post(pattern, [handler](const httplib::Request& req, httplib::Response& res) {
        if (!AreTokensEqual(req.get_param_value("csrf"), g_current.session.csrfToken)) {
            AnswerText(res, 403, "refused: the form is stale or came from elsewhere; reload the page");
            return;
        }
        handler(req, res);
    });
}
