// What every page and form of the maintainers' interface shares: the
// session of the request being served, the security headers, cookies,
// answers, the page frame and POST routes that check the CSRF token.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <string>

#include "server/admin/admin_pages.h"
#include "server/admin/admin_service.h"

// The session of the request being served, set before routing; httplib
// serves a request on one worker thread from its head to its answer.
struct RequestSession
{
    bool valid = false;
    std::string tokenDigest;
    AdminSession session;
};

extern thread_local RequestSession g_current;

int64_t GetEpochSeconds();
void SetSecurityHeaders(httplib::Response& res);
std::string ReadCookie(const httplib::Request& req, const std::string& name);
// HttpOnly and SameSite=Strict, Secure under TLS; expire: removes it.
std::string MakeCookie(const AdminService& service, const std::string& name, const std::string& value,
                       const char* path, bool expire);
void AnswerPage(httplib::Response& res, int status, const std::string& html);
void AnswerText(httplib::Response& res, int status, const std::string& text);
// The signed-in user and the form token of the current request, and message.
PageFrame MakeFrame(const std::string& message = std::string());

// Every state change is a POST that carries the session's CSRF token.
typedef std::function<void(const httplib::Request&, httplib::Response&)> Handler;
void AddPost(httplib::Server& server, const char* pattern, Handler handler);
