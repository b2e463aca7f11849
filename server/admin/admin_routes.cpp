#include "server/admin/admin_routes.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>

#include <chrono>
#include <functional>
#include <thread>

#include "server/admin/admin_answers.h"
#include "server/admin/admin_pages.h"
#include "server/admin/alert_routes.h"
#include "server/admin/crash_routes.h"
#include "server/admin/publish_routes.h"
#include "server/base/decimal_text.h"
#include "server/base/file_io.h"
#include "server/base/log_text.h"
#include "server/net/listen_address.h"
#include "server/net/rate_limiter.h"
#include "server/store/report_store.h"
#include "server/store/report_text.h"

namespace {

const size_t kLargestNote = 4000;
const int64_t kReportsPerPage = 50;

bool ResumeSession(AdminService& service, const httplib::Request& req)
{
    g_current = RequestSession();
    // The token carries its log-in time; the store knows it by the digest
    // of both, so the time cannot be changed without losing the session.
    const std::string token = ReadCookie(req, kSessionCookie);
    uint64_t loggedIn = 0;
    if (token.size() < 66 || token[64] != '-' || !ParseDecimalDigits(token.substr(65), 19, loggedIn))
        return false;
    std::string error;
    const std::string digest = DigestToken(token);
    const int64_t now = GetEpochSeconds();
    if (now - static_cast<int64_t>(loggedIn) > service.sessionLifetimeSeconds) {
        if (!service.store->EndSession(digest, error) && service.log != nullptr)
            std::fprintf(service.log, "brevora-report-server: admin: %s\n", error.c_str());
        return false;
    }
    const StoreAnswer answer =
        service.store->ResumeSession(digest, now, service.sessionIdleSeconds, g_current.session, error);
    if (answer == StoreAnswer::Failed && service.log != nullptr)
        std::fprintf(service.log, "brevora-report-server: admin: %s\n", error.c_str());
    if (answer != StoreAnswer::Done)
        return false;
    g_current.valid = true;
    g_current.tokenDigest = digest;
    return true;
}

bool IsOpenPath(const std::string& path)
{
    return path == "/login" || path == "/style.css" || path == "/favicon.ico";
}

bool IsToken(const std::string& text)
{
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void ServeLoginPage(AdminService& service, const httplib::Request& req, httplib::Response& res, int status,
                    const std::string& message)
{
    // The browser's token stays while it has one: a second tab or a request
    // of the browser's own (a favicon redirected here) must not make the
    // first form stale.
    std::string token = ReadCookie(req, kLoginCookie);
    if (!IsToken(token))
        token = MakeRandomToken();
    res.set_header("Set-Cookie", MakeCookie(service, kLoginCookie, token, "/login", false));
    AnswerPage(res, status, RenderLoginPage(token, message));
}

void LogIn(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    // The log-in form's own token, from a cookie only this site can set.
    if (!AreTokensEqual(req.get_param_value("csrf"), ReadCookie(req, kLoginCookie))) {
        AnswerText(res, 403, "refused: the log-in form is stale or came from elsewhere; reload the page");
        return;
    }
    const std::string name = req.get_param_value("name");
    const std::string password = req.get_param_value("password");
    const LoginVerdict verdict = service.throttle.Begin(name, req.remote_addr, GetSteadySeconds());
    if (!verdict.allowed) {
        res.set_header("Retry-After", std::to_string(verdict.retryAfter));
        ServeLoginPage(service, req, res, 429,
                       "Too many failed log-ins; try again in " + std::to_string(verdict.retryAfter) + " seconds.");
        return;
    }
    // A name others are guessing at is slowed for everyone, refused to no one.
    if (verdict.delaySeconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(verdict.delaySeconds));
    PasswordHashSlot slot;
    if (!slot.Acquire(kPasswordHashWait)) {
        service.throttle.Forgive(name, req.remote_addr);
        res.set_header("Retry-After", "5");
        AnswerText(res, 503, "busy checking other log-ins; try again in a few seconds");
        return;
    }
    std::string hash;
    std::string error;
    const StoreAnswer found = service.store->FindPasswordHash(name, hash, error);
    if (found == StoreAnswer::Failed) {
        service.throttle.Forgive(name, req.remote_addr);
        AnswerText(res, 500, error);
        return;
    }
    // An unknown name is verified against a decoy: same answer, same time.
    // The failure was counted when the attempt began.
    if (!VerifyPassword(password, found == StoreAnswer::Done ? hash : std::string())) {
        ServeLoginPage(service, req, res, 401, "Wrong name or password.");
        return;
    }
    service.throttle.Forgive(name, req.remote_addr);
    const std::string token = MakeRandomToken() + "-" + std::to_string(GetEpochSeconds());
    AdminSession session;
    session.user = name;
    session.csrfToken = MakeRandomToken();
    if (!service.store->CreateSession(DigestToken(token), session, GetEpochSeconds(), error)) {
        AnswerText(res, 500, error);
        return;
    }
    res.set_header("Set-Cookie", MakeCookie(service, kSessionCookie, token, "/", false));
    res.set_header("Set-Cookie", MakeCookie(service, kLoginCookie, "", "/login", true));
    res.set_redirect("/", 303);
}

void LogOut(AdminService& service, httplib::Response& res)
{
    std::string error;
    if (!service.store->EndSession(g_current.tokenDigest, error)) {
        AnswerText(res, 500, error);
        return;
    }
    res.set_header("Set-Cookie", MakeCookie(service, kSessionCookie, "", "/", true));
    res.set_redirect("/login", 303);
}

std::string FormatUtcDay(time_t seconds)
{
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
    return text;
}

// Reports stored by another process (or whose indexing failed) since the
// newest one indexed.
bool IndexNewReports(AdminService& service, httplib::Response& res)
{
    std::string error;
    if (service.store->IndexMissingReports(*service.reports, false, error))
        return true;
    AnswerText(res, 500, error);
    return false;
}

void ServeOverview(AdminService& service, httplib::Response& res)
{
    if (!IndexNewReports(service, res))
        return;
    const time_t now = time(nullptr);
    std::vector<std::string> days;
    for (int i = 29; i >= 0; --i)
        days.push_back(FormatUtcDay(now - static_cast<time_t>(i) * 86400));
    std::vector<DayCount> counts;
    std::vector<StatusCount> statuses;
    std::string error;
    if (!service.store->CountReportsPerDay(days.front(), counts, error) ||
        !service.store->CountStatuses(statuses, error)) {
        AnswerText(res, 500, error);
        return;
    }
    AnswerPage(res, 200, RenderOverview(MakeFrame(), days, counts, statuses));
}

bool IsDate(const std::string& text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9'))
            return false;
    }
    return true;
}

std::string EncodeQueryValue(const std::string& value)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string MakeListLink(const ReportFilter& filter, int64_t page)
{
    std::string link = "/reports?q=" + EncodeQueryValue(filter.text) +
                       "&component=" + EncodeQueryValue(filter.component) +
                       "&version=" + EncodeQueryValue(filter.version) + "&status=" + filter.status +
                       "&from=" + filter.fromDate + "&to=" + filter.toDate;
    if (page > 1)
        link += "&page=" + std::to_string(page);
    return link;
}

void ServeReportList(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    ReportFilter filter;
    filter.text = req.get_param_value("q");
    filter.component = req.get_param_value("component");
    filter.version = req.get_param_value("version");
    std::string message;
    // Values the form cannot send are left out, and the page says so.
    const std::string status = req.get_param_value("status");
    if (IsTriageStatus(status))
        filter.status = status;
    else if (!status.empty())
        message = "Unknown status ignored.";
    const std::string from = req.get_param_value("from");
    const std::string to = req.get_param_value("to");
    if (IsDate(from))
        filter.fromDate = from;
    if (IsDate(to))
        filter.toDate = to;
    if ((!from.empty() && !IsDate(from)) || (!to.empty() && !IsDate(to)))
        message = "Dates are YYYY-MM-DD; others are ignored.";
    int64_t page = 1;
    const std::string pageText = req.get_param_value("page");
    if (!pageText.empty() && pageText.size() < 9 && pageText.find_first_not_of("0123456789") == std::string::npos)
        page = std::max<int64_t>(1, std::stoll(pageText));

    if (!IndexNewReports(service, res))
        return;
    std::vector<ReportLine> lines;
    bool more = false;
    std::string error;
    if (!service.store->ListReportLines(filter, (page - 1) * kReportsPerPage, kReportsPerPage, lines, more, error)) {
        AnswerText(res, 500, error);
        return;
    }
    // The published components, one a line, as the reporter offers them.
    std::string published;
    if (ReadWholeFile(service.dataDir + "/components.txt", published, error) == ReadResult::Failed) {
        AnswerText(res, 500, error);
        return;
    }
    std::vector<std::string> components;
    for (size_t at = 0; at < published.size();) {
        size_t end = std::min(published.find('\n', at), published.size());
        const size_t next = end + 1;
        if (end > at && published[end - 1] == '\r')
            --end;
        if (end > at)
            components.push_back(published.substr(at, end - at));
        at = next;
    }
    AnswerPage(res, 200,
               RenderReportList(MakeFrame(message), filter, lines, components,
                                page > 1 ? MakeListLink(filter, page - 1) : "", more ? MakeListLink(filter, page + 1) : ""));
}

enum class FoundReport
{
    Bug,
    Crash,
    None,
    Failed
};

FoundReport LoadAnyReport(AdminService& service, int64_t id, StoredReport& bug, StoredCrashReport& crash,
                          std::string& error)
{
    LoadResult result = service.reports->LoadReport(id, bug, error);
    if (result == LoadResult::Found)
        return FoundReport::Bug;
    if (result == LoadResult::NotFound) {
        result = service.reports->LoadCrashReport(id, crash, error);
        if (result == LoadResult::Found)
            return FoundReport::Crash;
    }
    return result == LoadResult::NotFound ? FoundReport::None : FoundReport::Failed;
}

void ServeReport(AdminService& service, const httplib::Request& req, httplib::Response& res, int status,
                 const std::string& message)
{
    int64_t id = 0;
    if (!ParsePositiveId(req.matches[1], id)) {
        AnswerText(res, 404, "no such report");
        return;
    }
    StoredReport bug;
    StoredCrashReport crash;
    std::string error;
    const FoundReport found = LoadAnyReport(service, id, bug, crash, error);
    Triage triage;
    std::vector<AuditEntry> audit;
    if (found == FoundReport::None) {
        AnswerText(res, 404, "no report " + std::to_string(id));
        return;
    }
    if (found == FoundReport::Failed || service.store->LoadTriage(id, triage, audit, error) == StoreAnswer::Failed) {
        AnswerText(res, 500, error);
        return;
    }
    CrashAnalysis analysis;
    if (found == FoundReport::Crash && service.crashes != nullptr) {
        service.crashes->queue->Flush();
        if (service.crashes->store->LoadAnalysis(id, analysis, error) == LoadResult::Failed)
            LogStoreError(service, error);
    }
    const PageFrame frame = MakeFrame(message);
    AnswerPage(res, status,
               found == FoundReport::Bug ? RenderBugReport(frame, bug, triage, audit)
                                         : RenderCrashReport(frame, crash, triage, audit, analysis));
}

void ServeReportFile(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    int64_t id = 0;
    StoredReport bug;
    StoredCrashReport crash;
    std::string error;
    const FoundReport found =
        ParsePositiveId(req.matches[1], id) ? LoadAnyReport(service, id, bug, crash, error) : FoundReport::None;
    if (found == FoundReport::Failed) {
        AnswerText(res, 500, error);
        return;
    }
    const std::string slot = req.matches[2];
    const ReportFile* file = nullptr;
    if (found == FoundReport::Bug && slot == "attachment")
        file = &bug.report.attachment;
    else if (found == FoundReport::Bug && slot == "log")
        file = &bug.report.attachmentLog;
    else if (found == FoundReport::Crash && slot == "dump")
        file = &crash.report.dump;
    else if (found == FoundReport::Crash && slot == "log")
        file = &crash.report.log;
    else if (found == FoundReport::Crash && slot == "conf")
        file = &crash.report.conf;
    if (file == nullptr || file->state != FileState::Content) {
        AnswerText(res, 404, "no such file");
        return;
    }
    const std::string name = MakeSafeFileName(file->name, "report-" + std::to_string(id) + "-" + slot + ".bin");
    res.status = 200;
    res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
    res.set_content(file->content, "application/octet-stream");
}

void StoreTriage(AdminService& service, const httplib::Request& req, httplib::Response& res)
{
    int64_t id = 0;
    if (!ParsePositiveId(req.matches[1], id)) {
        AnswerText(res, 404, "no such report");
        return;
    }
    Triage triage;
    triage.status = req.get_param_value("status");
    triage.note = req.get_param_value("note");
    const std::string duplicateOf = req.get_param_value("duplicate_of");
    std::string problem;
    if (!IsTriageStatus(triage.status))
        problem = "Unknown status.";
    else if (triage.note.size() > kLargestNote)
        problem = "The note is over " + std::to_string(kLargestNote) + " bytes.";
    else if (triage.status == "duplicate" && (!ParsePositiveId(duplicateOf, triage.duplicateOf) || triage.duplicateOf == id))
        problem = "A duplicate needs the number of another report.";
    if (triage.status != "duplicate")
        triage.duplicateOf = 0;
    std::string error;
    if (problem.empty() && triage.duplicateOf > 0) {
        Triage other;
        std::vector<AuditEntry> ignored;
        const StoreAnswer answer = service.store->LoadTriage(triage.duplicateOf, other, ignored, error);
        if (answer == StoreAnswer::NotFound)
            problem = "There is no report " + std::to_string(triage.duplicateOf) + ".";
        else if (answer == StoreAnswer::Failed)
            problem = error;
    }
    if (!problem.empty()) {
        ServeReport(service, req, res, 400, problem);
        return;
    }
    const StoreAnswer stored = service.store->SetTriage(id, triage, g_current.session.user, FormatUtcNow(), error);
    if (stored == StoreAnswer::NotFound) {
        AnswerText(res, 404, "no report " + std::to_string(id));
        return;
    }
    if (stored == StoreAnswer::Failed) {
        AnswerText(res, 500, error);
        return;
    }
    res.set_redirect("/reports/" + std::to_string(id), 303);
}

void WriteAdminLogLine(AdminService& service, const httplib::Request& req, const httplib::Response& res)
{
    // The session is this request's only: the next on this thread must not
    // inherit it, should it never reach the pre-routing handler.
    const RequestSession current = g_current;
    g_current = RequestSession();
    if (service.log == nullptr)
        return;
    // httplib logs a request it could not parse before it knows the peer.
    const std::string peer = req.remote_addr.empty() ? "-" : FormatHostPort(req.remote_addr, req.remote_port);
    const std::string line = FormatUtcNow() + " admin " + peer + " " + EscapeControlBytes(req.method, false) + " " +
                             EscapeControlBytes(req.path, false) + " " + std::to_string(res.status) +
                             " out=" + std::to_string(res.body.size()) +
                             (current.valid ? " user=" + EscapeControlBytes(current.session.user, false) : "") + "\n";
    std::fwrite(line.data(), 1, line.size(), service.log);
    std::fflush(service.log);
}

}  // namespace

void InstallAdminRoutes(httplib::Server& server, AdminService& service)
{
    // No SO_REUSEPORT (a second server must fail to bind, not share), and
    // no Nagle delay between an answer's head and body.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    // Forms only: the largest is a release binary's upload, read only for a
    // signed-in maintainer (the session is checked before any body).
    server.set_payload_max_length(kLargestAdminForm);

    // Nothing but the log-in page and its stylesheet without a session.
    // A maintainer's page sees every report answered 201 so far, those
    // still gathering for the list included.
    server.set_pre_routing_handler([&service](const httplib::Request& req, httplib::Response& res) {
        if (ResumeSession(service, req)) {
            service.queue->Flush();
            return httplib::Server::HandlerResponse::Unhandled;
        }
        // Without a session only the log-in form has a body: the large
        // limit is for maintainers' uploads, not for whoever connects.
        if (IsOpenPath(req.path) && (req.get_header_value<uint64_t>("Content-Length") > kLargestOpenForm ||
                                     req.has_header("Transfer-Encoding"))) {
            AnswerText(res, 413, "refused: a form over " + std::to_string(kLargestOpenForm) + " bytes");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (IsOpenPath(req.path))
            return httplib::Server::HandlerResponse::Unhandled;
        res.set_redirect("/login", 303);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_post_routing_handler([&service](const httplib::Request&, httplib::Response& res) {
        SetSecurityHeaders(res, service.secureCookies);
    });

    server.Get("/style.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "max-age=3600");
        res.set_content(kAdminStylesheet, "text/css; charset=utf-8");
    });
    // Browsers ask for it on every site; no icon, and no error either.
    server.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server.Get("/login", [&service](const httplib::Request& req, httplib::Response& res) {
        if (g_current.valid)
            res.set_redirect("/", 303);
        else
            ServeLoginPage(service, req, res, 200, "");
    });
    server.Post("/login", [&service](const httplib::Request& req, httplib::Response& res) { LogIn(service, req, res); });
    AddPost(server, "/logout", [&service](const httplib::Request&, httplib::Response& res) { LogOut(service, res); });
    server.Get("/", [&service](const httplib::Request&, httplib::Response& res) { ServeOverview(service, res); });
    server.Get("/reports", [&service](const httplib::Request& req, httplib::Response& res) {
        ServeReportList(service, req, res);
    });
    server.Get(R"(/reports/(\d+))", [&service](const httplib::Request& req, httplib::Response& res) {
        ServeReport(service, req, res, 200, "");
    });
    server.Get(R"(/reports/(\d+)/files/(attachment|log|dump|conf))",
               [&service](const httplib::Request& req, httplib::Response& res) { ServeReportFile(service, req, res); });
    AddPost(server, R"(/reports/(\d+)/triage)",
            [&service](const httplib::Request& req, httplib::Response& res) { StoreTriage(service, req, res); });
    InstallPublishRoutes(server, service);
    InstallCrashRoutes(server, service);
    InstallAlertRoutes(server, service);

    server.set_error_handler([&service](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            AnswerText(res, res.status, res.status == 404 ? "not found" : "refused");
        SetSecurityHeaders(res, service.secureCookies);
    });
    server.set_exception_handler([&service](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        AnswerText(res, 500, "internal error");
        SetSecurityHeaders(res, service.secureCookies);
    });
    server.set_logger(
        [&service](const httplib::Request& req, const httplib::Response& res) { WriteAdminLogLine(service, req, res); });
}
