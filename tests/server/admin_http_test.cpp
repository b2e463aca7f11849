// The maintainers' interface over HTTP, in process beside the reporters'
// listener on one data folder: log-in and its throttle, sessions, CSRF,
// redirects, escaping, downloads, triage, publishing and the separation of
// the two listeners.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/admin/admin_routes.h"
#include "server/api/report_routes.h"
#include "server/base/file_io.h"
#include "server/commands/command_line.h"
#include "server/crash/crash_service.h"
#include "server/store/report_store.h"
#include "server/store/store_factory.h"
#include "tests/server/in_process_server.h"
#include "tests/server/raw_http.h"
#include "tests/server/report_factory.h"
#include "tests/server/temp_folder.h"

namespace {

const char kFormType[] = "application/x-www-form-urlencoded";
const char kPassword[] = "correct horse";

struct Page
{
    int status = 0;
    std::string body;
    httplib::Headers headers;
    std::string Header(const char* name) const
    {
        auto found = headers.find(name);
        return found != headers.end() ? found->second : std::string();
    }
};

// A logged-in browser: its session cookie and the CSRF token of its pages.
struct Browser
{
    std::string cookie;
    std::string csrf;
};

std::string FindBetween(const std::string& text, const std::string& before, const std::string& after)
{
    const size_t start = text.find(before);
    if (start == std::string::npos)
        return std::string();
    const size_t end = text.find(after, start + before.size());
    return end == std::string::npos ? std::string() : text.substr(start + before.size(), end - start - before.size());
}

// The cookie's name=value from a Set-Cookie header for name.
std::string FindCookie(const httplib::Headers& headers, const std::string& name)
{
    for (auto it = headers.lower_bound("Set-Cookie"); it != headers.upper_bound("Set-Cookie"); ++it) {
        if (it->second.compare(0, name.size() + 1, name + "=") == 0)
            return it->second.substr(0, it->second.find(';'));
    }
    return std::string();
}

class AdminServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        signal(SIGPIPE, SIG_IGN);
        std::string error;
        m_reports.dataDir = m_folder.Path();
        m_reports.maxBody = kDefaultMaxBody;
        m_reports.store = OpenReportStore(m_folder.Path(), "", true, error);
        ASSERT_TRUE(m_reports.store) << error;
        ASSERT_TRUE(OpenAdminService(m_admin, m_folder.Path(), "", *m_reports.store, error)) << error;
        ASSERT_TRUE(OpenCrashService(m_crashes, m_folder.Path(), "", *m_reports.store, error)) << error;
        m_admin.crashes = &m_crashes;
        m_alerts = OpenAlertStore(m_folder.Path(), "", error);
        ASSERT_TRUE(m_alerts) << error;
        m_admin.alerts = m_alerts.get();
        // As serve links them.
        m_reports.onStored = [this](int64_t id, const ReportOrigin& origin, const Report& report) {
            IndexStoredReport(m_admin, id, origin, report);
        };
        m_reports.onCrashStored = [this](int64_t id, const ReportOrigin& origin, const CrashReport& report) {
            IndexStoredReport(m_admin, id, origin, report);
            QueueCrashReport(m_crashes, id, origin, report);
        };
        AddAccount("alice");
        AddAccount("bob");

        InstallReportRoutes(m_reportServer, m_reports);
        InstallAdminRoutes(m_adminServer, m_admin);
        StartListening(m_reportServer, m_reportThread, m_reportPort);
        StartListening(m_adminServer, m_adminThread, m_adminPort);
    }

    void TearDown() override
    {
        StopListening(m_reportServer, m_reportThread);
        StopListening(m_adminServer, m_adminThread);
    }

    void AddAccount(const std::string& name)
    {
        std::string hash;
        std::string error;
        ASSERT_TRUE(HashPassword(kPassword, hash));
        ASSERT_EQ(StoreAnswer::Done, m_admin.store->AddUser(name, hash, "2024-01-01T00:00:00.000Z", error)) << error;
    }

    Page Get(const std::string& path, const std::string& cookie = std::string(), int port = 0)
    {
        httplib::Client client("127.0.0.1", port != 0 ? port : m_adminPort);
        httplib::Headers headers;
        if (!cookie.empty())
            headers.emplace("Cookie", cookie);
        Page page;
        if (httplib::Result result = client.Get(path.c_str(), headers)) {
            page.status = result->status;
            page.body = result->body;
            page.headers = result->headers;
        }
        return page;
    }

    Page Post(const std::string& path, const httplib::Params& form, const std::string& cookie = std::string(),
              int port = 0)
    {
        httplib::Client client("127.0.0.1", port != 0 ? port : m_adminPort);
        httplib::Headers headers;
        if (!cookie.empty())
            headers.emplace("Cookie", cookie);
        Page page;
        if (httplib::Result result = client.Post(path.c_str(), headers, form)) {
            page.status = result->status;
            page.body = result->body;
            page.headers = result->headers;
        }
        return page;
    }

    // Fetches the log-in form and sends it; the answer to the POST.
    Page TryLogIn(const std::string& name, const std::string& password)
    {
        const Page form = Get("/login");
        const std::string loginCookie = FindCookie(form.headers, kLoginCookie);
        const std::string token = FindBetween(form.body, "name=\"csrf\" value=\"", "\"");
        return Post("/login", {{"csrf", token}, {"name", name}, {"password", password}}, loginCookie);
    }

    Browser LogIn(const std::string& name)
    {
        Browser browser;
        const Page answer = TryLogIn(name, kPassword);
        EXPECT_EQ(303, answer.status);
        browser.cookie = FindCookie(answer.headers, kSessionCookie);
        browser.csrf = FindBetween(Get("/", browser.cookie).body, "name=\"csrf\" value=\"", "\"");
        EXPECT_EQ(64u, browser.csrf.size());
        return browser;
    }

    int64_t Upload(const ReportInput& input)
    {
        httplib::Client client("127.0.0.1", m_reportPort);
        httplib::Result result = client.Post("/bugreport/report/", EncodeReport(input), kFormType);
        EXPECT_TRUE(result);
        EXPECT_EQ(201, result ? result->status : 0) << (result ? result->body : "");
        return result ? std::stoll(result->body) : 0;
    }

    int64_t UploadCrash(const std::string& dump)
    {
        httplib::Client client("127.0.0.1", m_reportPort);
        httplib::Result result =
            client.Post("/bugreport/crash/", EncodeCrashReport("it crashed", dump, "log\n", "conf\n"), kFormType);
        EXPECT_EQ(201, result ? result->status : 0);
        return result ? std::stoll(result->body) : 0;
    }

    TempFolder m_folder;
    ReportService m_reports;
    CrashService m_crashes;
    std::unique_ptr<AlertStore> m_alerts;
    AdminService m_admin;
    httplib::Server m_reportServer;
    httplib::Server m_adminServer;
    std::thread m_reportThread;
    std::thread m_adminThread;
    int m_reportPort = 0;
    int m_adminPort = 0;
};

TEST_F(AdminServerTest, AnswersLogInsAlikeForUnknownNamesAndWrongPasswords)
{
    const Page right = TryLogIn("alice", kPassword);
    EXPECT_EQ(303, right.status);
    EXPECT_EQ("/", right.Header("Location"));
    const std::string session = FindCookie(right.headers, kSessionCookie);
    // 256 random bits and the log-in time.
    EXPECT_EQ(std::string(kSessionCookie) + "=", session.substr(0, std::string(kSessionCookie).size() + 1));
    EXPECT_EQ("-", session.substr(std::string(kSessionCookie).size() + 1 + 64, 1)) << session;
    bool flagged = false;
    for (auto it = right.headers.lower_bound("Set-Cookie"); it != right.headers.upper_bound("Set-Cookie"); ++it) {
        if (it->second.compare(0, session.size(), session) == 0)
            flagged = it->second.find("; HttpOnly") != std::string::npos &&
                      it->second.find("; SameSite=Strict") != std::string::npos;
    }
    EXPECT_TRUE(flagged);
    EXPECT_EQ(200, Get("/reports", session).status);

    const Page wrong = TryLogIn("alice", "correct horse!");
    const Page unknown = TryLogIn("mallory", kPassword);
    EXPECT_EQ(401, wrong.status);
    EXPECT_TRUE(FindCookie(wrong.headers, kSessionCookie).empty());
    // The pages differ only by the fresh token of the form.
    const std::string wrongToken = FindBetween(wrong.body, "name=\"csrf\" value=\"", "\"");
    const std::string unknownToken = FindBetween(unknown.body, "name=\"csrf\" value=\"", "\"");
    EXPECT_EQ(wrong.status, unknown.status);
    std::string wrongBody = wrong.body;
    std::string unknownBody = unknown.body;
    wrongBody.replace(wrongBody.find(wrongToken), wrongToken.size(), "T");
    unknownBody.replace(unknownBody.find(unknownToken), unknownToken.size(), "T");
    EXPECT_EQ(wrongBody, unknownBody);
    EXPECT_NE(std::string::npos, wrong.body.find("Wrong name or password."));
}

TEST_F(AdminServerTest, ThrottlesFailedLogInsPerAccountAndPerAddress)
{
    for (int i = 0; i < kLoginFailuresAllowed; ++i)
        EXPECT_EQ(401, TryLogIn("alice", "guess " + std::to_string(i)).status);
    // The right password no longer helps, for this account and from this address.
    const Page throttled = TryLogIn("alice", kPassword);
    EXPECT_EQ(429, throttled.status);
    EXPECT_TRUE(FindCookie(throttled.headers, kSessionCookie).empty());
    EXPECT_FALSE(throttled.Header("Retry-After").empty());
    EXPECT_EQ(429, TryLogIn("bob", kPassword).status);

    // From another address neither is: another's failures slow a name's
    // log-ins, but can never lock its maintainer out.
    const Page form = Get("/login");
    const std::string loginCookie = FindCookie(form.headers, kLoginCookie);
    const std::string token = FindBetween(form.body, "name=\"csrf\" value=\"", "\"");
    for (const char* name : {"alice", "bob"}) {
        const std::string body = std::string("csrf=") + token + "&name=" + name + "&password=correct+horse";
        const RawResponse answer = ExchangeRawFrom(
            "127.0.0.2", m_adminPort,
            "POST /login HTTP/1.1\r\nHost: x\r\nConnection: close\r\nCookie: " + loginCookie +
                "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body);
        EXPECT_EQ(303, answer.status) << name;
    }
}

// Sixteen wrong passwords at once from one address: the check and the
// count are one step, so exactly the allowed number is tried.
TEST_F(AdminServerTest, CountsParallelFailedLogInsExactly)
{
    const Page form = Get("/login");
    const std::string loginCookie = FindCookie(form.headers, kLoginCookie);
    const std::string token = FindBetween(form.body, "name=\"csrf\" value=\"", "\"");
    std::vector<std::thread> tries;
    std::vector<int> statuses(16);
    for (size_t i = 0; i < statuses.size(); ++i) {
        tries.emplace_back([&, i] {
            statuses[i] = Post("/login", {{"csrf", token}, {"name", "alice"}, {"password", "guess"}}, loginCookie).status;
        });
    }
    for (std::thread& t : tries)
        t.join();
    EXPECT_EQ(kLoginFailuresAllowed, std::count(statuses.begin(), statuses.end(), 401));
    EXPECT_EQ(16 - kLoginFailuresAllowed, std::count(statuses.begin(), statuses.end(), 429));
}

TEST(PasswordHashSlot, LetsAtMostTwoHashAtOnceAndTheOthersWait)
{
    std::atomic<int> inside(0);
    std::atomic<int> peak(0);
    std::atomic<int> served(0);
    std::vector<std::thread> logIns;
    for (int i = 0; i < 8; ++i) {
        logIns.emplace_back([&] {
            PasswordHashSlot slot;
            if (!slot.Acquire(std::chrono::seconds(10)))
                return;
            const int now = ++inside;
            for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            --inside;
            ++served;
        });
    }
    for (std::thread& t : logIns)
        t.join();
    EXPECT_EQ(8, served.load());
    EXPECT_EQ(kPasswordHashSlots, peak.load());
}

TEST_F(AdminServerTest, EndsSessionsOnLogOutAndRefusesThemAfter)
{
    const Browser browser = LogIn("alice");
    EXPECT_EQ(200, Get("/reports", browser.cookie).status);
    const Page out = Post("/logout", {{"csrf", browser.csrf}}, browser.cookie);
    EXPECT_EQ(303, out.status);
    EXPECT_EQ("/login", out.Header("Location"));
    const Page after = Get("/reports", browser.cookie);
    EXPECT_EQ(303, after.status);
    EXPECT_EQ("/login", after.Header("Location"));

    // A removed account's sessions end with it.
    const Browser bob = LogIn("bob");
    std::string error;
    ASSERT_EQ(StoreAnswer::Done, m_admin.store->RemoveUser("bob", error)) << error;
    EXPECT_EQ(303, Get("/", bob.cookie).status);
}

// Through the routes, with limits of a second: a session ends once idle
// too long, and once too old however busy.
TEST_F(AdminServerTest, EndsSessionsIdleOrOldThroughThePages)
{
    const struct
    {
        const char* name;
        int64_t idleSeconds;
        int64_t lifetimeSeconds;
    } rows[] = {{"idle", 1, 3600}, {"old", 3600, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        m_admin.sessionIdleSeconds = row.idleSeconds;
        m_admin.sessionLifetimeSeconds = row.lifetimeSeconds;
        const Browser browser = LogIn("alice");
        EXPECT_EQ(200, Get("/reports", browser.cookie).status);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        EXPECT_EQ(303, Get("/reports", browser.cookie).status);
    }
}

TEST_F(AdminServerTest, RedirectsEveryPageToTheLogInWithoutASession)
{
    const int64_t id = Upload(ReportInput{});
    const std::string report = "/reports/" + std::to_string(id);
    const std::vector<std::string> cookies = {
        "", std::string(kSessionCookie) + "=" + std::string(64, 'a'), std::string(kSessionCookie) + "=short"};
    const std::vector<std::string> paths = {"/", "/reports", "/reports?q=x", report, report + "/files/log",
                                            "/publish", "/no/such/page"};
    for (const std::string& cookie : cookies) {
        for (const std::string& path : paths) {
            SCOPED_TRACE(path + " with '" + cookie + "'");
            const Page page = Get(path, cookie);
            EXPECT_EQ(303, page.status);
            EXPECT_EQ("/login", page.Header("Location"));
            EXPECT_EQ("", page.body);
        }
        const Page post = Post(report + "/triage", {{"status", "fixed"}}, cookie);
        EXPECT_EQ(303, post.status);
    }
    Triage triage;
    std::vector<AuditEntry> audit;
    std::string error;
    m_admin.queue->Flush();  // read without a page, which would have flushed it
    ASSERT_EQ(StoreAnswer::Done, m_admin.store->LoadTriage(id, triage, audit, error));
    EXPECT_EQ("new", triage.status);
    EXPECT_EQ(200, Get("/login").status);
    EXPECT_EQ(200, Get("/style.css").status);
}

TEST_F(AdminServerTest, RefusesStateChangesWithoutTheSessionsCsrfToken)
{
    const int64_t id = Upload(ReportInput{});
    const Browser browser = LogIn("alice");
    const Browser other = LogIn("bob");
    const std::string triage = "/reports/" + std::to_string(id) + "/triage";
    const struct
    {
        const char* path;
        httplib::Params form;
    } requests[] = {
        {"/logout", {}},
        {triage.c_str(), {{"status", "fixed"}, {"note", "n"}}},
        {"/publish", {{"components", "X\n"}, {"version", "9"}, {"update_address", ""}}},
        {"/crashes/1/status", {{"status", "ignored"}}},
        {"/binaries", {}},
        {"/alerts", {{"email", "a@example.org"}, {"on", "spike"}}},
    };
    for (const auto& request : requests) {
        for (const std::string& token : {std::string(), std::string(64, '0'), other.csrf}) {
            SCOPED_TRACE(std::string(request.path) + " with '" + token + "'");
            httplib::Params form = request.form;
            if (!token.empty())
                form.emplace("csrf", token);
            EXPECT_EQ(403, Post(request.path, form, browser.cookie).status);
        }
    }
    // Nothing changed: still logged in, not triaged, nothing published.
    EXPECT_EQ(200, Get("/", browser.cookie).status);
    Triage stored;
    std::vector<AuditEntry> audit;
    std::string error;
    ASSERT_EQ(StoreAnswer::Done, m_admin.store->LoadTriage(id, stored, audit, error));
    EXPECT_TRUE(audit.empty());
    EXPECT_EQ(404, Get("/bugreport/latest_version", "", m_reportPort).status);

    // The log-in form too: its token must match the cookie set with it.
    const Page form = Get("/login");
    const std::string token = FindBetween(form.body, "name=\"csrf\" value=\"", "\"");
    EXPECT_EQ(403, Post("/login", {{"csrf", token}, {"name", "alice"}, {"password", kPassword}}).status);
    // Neither token nor cookie: an empty token is never equal to an empty one.
    EXPECT_EQ(403, Post("/login", {{"name", "alice"}, {"password", kPassword}}).status);
}

TEST_F(AdminServerTest, ShowsEveryTextOfAReportEscaped)
{
    const std::string hostile = "<script>alert(\"x\")</script> it's <b>bold</b> & <img src=x onerror=alert(1)>";
    ReportInput input;
    input.email = "\"><script>alert(1)</script>@example.com";
    input.description1 = hostile + " one";
    input.description2 = hostile + " two";
    input.description3 = hostile + " three";
    // The component, version and code page ride on the last lines of the
    // system information.
    input.systemInfo = hostile + " system\nElement=<b>Tools</b>\"'\nVersion=<i>2.4</i>\nCodePage=1252";
    input.attachmentName = "<script>.txt";
    input.dxdiag = MakePresentFile(hostile + " dxdiag");
    input.logName = "\"log\".txt";
    input.log = MakePresentFile(hostile + " log\n");
    const int64_t id = Upload(input);
    const Browser browser = LogIn("alice");

    const std::vector<std::string> pages = {"/reports/" + std::to_string(id), "/reports", "/reports?q=alert"};
    for (const std::string& path : pages) {
        SCOPED_TRACE(path);
        const Page page = Get(path, browser.cookie);
        ASSERT_EQ(200, page.status);
        EXPECT_EQ(std::string::npos, page.body.find("<script")) << page.body;
        EXPECT_EQ(std::string::npos, page.body.find("<b>bold"));
        EXPECT_EQ(std::string::npos, page.body.find("<img"));
        EXPECT_NE(std::string::npos, page.body.find("&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;@example.com"));
        EXPECT_NE(std::string::npos, page.body.find("&lt;script&gt;alert("));
    }
    const std::string report = Get(pages[0], browser.cookie).body;
    for (const char* part : {" one", " two", " three", " system", " dxdiag", " log"})
        EXPECT_NE(std::string::npos, report.find("&lt;/b&gt; &amp; &lt;img src=x onerror=alert(1)&gt;" +
                                                 std::string(part)))
            << part;
    EXPECT_NE(std::string::npos, report.find("it&apos;s"));
    EXPECT_NE(std::string::npos, report.find("<dd class=\"component\">&lt;b&gt;Tools&lt;/b&gt;&quot;&apos;</dd>"));
    // The overview names the component in its legend and its bar's title.
    const std::string overview = Get("/", browser.cookie).body;
    EXPECT_EQ(std::string::npos, overview.find("<b>Tools")) << overview;
    const std::string escaped = "&lt;b&gt;Tools&lt;/b&gt;&quot;&apos;";
    const size_t first = overview.find(escaped);
    EXPECT_NE(std::string::npos, first) << overview;
    EXPECT_NE(std::string::npos, overview.find(escaped, first + 1)) << overview;

    // The list shows the component, filters by it, and offers the
    // published ones, escaped too.
    std::string error;
    ASSERT_TRUE(WriteWholeFile(m_folder.Path() + "/components.txt", "Player\r\n<i>Library</i>\n", error)) << error;
    const std::string list = Get("/reports?component=%3Cb%3ETools%3C%2Fb%3E%22%27", browser.cookie).body;
    EXPECT_NE(std::string::npos, list.find("<td>&lt;b&gt;Tools&lt;/b&gt;&quot;&apos;</td>")) << list;
    EXPECT_NE(std::string::npos, list.find("<a href=\"/reports/" + std::to_string(id) + "\">"));
    EXPECT_NE(std::string::npos, list.find("<option value=\"Player\"><option value=\"&lt;i&gt;Library&lt;/i&gt;\">"))
        << list;
    const std::string other = Get("/reports?component=Player", browser.cookie).body;
    EXPECT_EQ(std::string::npos, other.find("<a href=\"/reports/" + std::to_string(id) + "\">"));

    // Likewise the version, exactly; the form and the page links keep it.
    const std::string version = "%3Ci%3E2.4%3C%2Fi%3E";
    const std::string versioned = Get("/reports?version=" + version, browser.cookie).body;
    EXPECT_NE(std::string::npos, versioned.find("<td class=\"version\">&lt;i&gt;2.4&lt;/i&gt;</td>")) << versioned;
    EXPECT_NE(std::string::npos, versioned.find("<a href=\"/reports/" + std::to_string(id) + "\">"));
    EXPECT_NE(std::string::npos, versioned.find("name=\"version\" value=\"&lt;i&gt;2.4&lt;/i&gt;\"")) << versioned;
    const std::string otherVersion = Get("/reports?version=2.5", browser.cookie).body;
    EXPECT_EQ(std::string::npos, otherVersion.find("<a href=\"/reports/" + std::to_string(id) + "\">"));
    const std::string second = Get("/reports?version=" + version + "&page=2", browser.cookie).body;
    EXPECT_NE(std::string::npos, second.find("&amp;version=" + version + "&amp;")) << second;
}

// 22 MiB of file and 1 MiB of text (a body near 30 MB): the page shows
// the first 64 KiB of each and links the whole file.
TEST_F(AdminServerTest, KeepsAReportPageSmallWhateverTheUpload)
{
    const std::string big(22 << 20, 'x');
    ReportInput input;
    input.description1 = std::string(1 << 20, 'd');
    input.dxdiag = MakePresentFile(big);
    const int64_t bug = Upload(input);
    httplib::Client client("127.0.0.1", m_reportPort);
    const httplib::Result crash =
        client.Post("/bugreport/crash/", EncodeCrashReport(std::string(1 << 20, 'c'), "MDMP", "log", big), kFormType);
    ASSERT_TRUE(crash);
    ASSERT_EQ(201, crash->status) << crash->body;
    const Browser browser = LogIn("alice");
    for (const std::string& id : {std::to_string(bug), std::to_string(std::stoll(crash->body))}) {
        SCOPED_TRACE(id);
        const Page page = Get("/reports/" + id, browser.cookie);
        EXPECT_EQ(200, page.status);
        EXPECT_LT(page.body.size(), 1u << 20);
        EXPECT_NE(std::string::npos, page.body.find("The first 64 KiB of 1048576 bytes shown"));
        EXPECT_NE(std::string::npos, page.body.find("The first 64 KiB shown: <a href=\"/reports/" + id + "/files/"));
    }
}

TEST_F(AdminServerTest, ServesFilesAsDownloadsUnderSafeNames)
{
    ReportInput input;
    input.attachmentName = "evil\"; filename=x.html";
    input.dxdiag = MakePresentFile("<html><script>alert(1)</script></html>");
    input.logName = "brevora_log.txt";
    std::string log;
    for (int i = 1; i <= 700; ++i)
        log += "line " + std::to_string(i) + " \x01\xff\r\n";
    input.log = MakePresentFile(log);
    const int64_t id = Upload(input);
    const Browser browser = LogIn("alice");
    const std::string base = "/reports/" + std::to_string(id) + "/files/";

    const struct
    {
        const char* slot;
        const char* disposition;
        std::string bytes;
    } files[] = {
        {"attachment", "attachment; filename=\"evil___filename_x.html\"", input.dxdiag.bytes},
        {"log", "attachment; filename=\"brevora_log.txt\"", log},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.slot);
        const Page page = Get(base + file.slot, browser.cookie);
        EXPECT_EQ(200, page.status);
        EXPECT_EQ(file.bytes, page.body);
        EXPECT_EQ(file.disposition, page.Header("Content-Disposition"));
        EXPECT_EQ("application/octet-stream", page.Header("Content-Type"));
        EXPECT_EQ("nosniff", page.Header("X-Content-Type-Options"));
    }
    EXPECT_EQ(404, Get(base + "dump", browser.cookie).status);

    // The page shows the log's last 500 lines, numbered from 201.
    const std::string page = Get("/reports/" + std::to_string(id), browser.cookie).body;
    EXPECT_NE(std::string::npos, page.find("<ol class=\"log\" start=\"201\">"));
    EXPECT_NE(std::string::npos, page.find("<li>line 201 \\x01\xc3\xbf</li>"));
    EXPECT_EQ(std::string::npos, page.find("<li>line 200 "));
    EXPECT_NE(std::string::npos, page.find("<li>line 700 "));
}

TEST_F(AdminServerTest, SendsTheSecurityHeadersWithEveryPage)
{
    const int64_t id = Upload(ReportInput{});
    const Browser browser = LogIn("alice");
    const std::vector<std::string> paths = {"/", "/reports", "/reports/" + std::to_string(id), "/publish", "/login",
                                            "/reports/999999", "/nothing"};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        m_admin.secureCookies = false;
        EXPECT_EQ("", Get(path, browser.cookie).Header("Strict-Transport-Security"));
        // Under TLS, browsers are told to come back over it only.
        m_admin.secureCookies = true;
        const Page page = Get(path, browser.cookie);
        EXPECT_EQ("max-age=31536000", page.Header("Strict-Transport-Security"));
        EXPECT_NE(0, page.status);
        EXPECT_EQ(kAdminContentSecurityPolicy, page.Header("Content-Security-Policy"));
        EXPECT_NE(std::string::npos, page.Header("Content-Security-Policy").find("frame-ancestors 'none'"));
        EXPECT_EQ("no-store", page.Header("Cache-Control"));
        EXPECT_EQ("nosniff", page.Header("X-Content-Type-Options"));
    }
}

// A logged-in request, then on the same connection (so the same worker) one
// httplib cannot parse: its line names neither the user nor a stale peer.
TEST_F(AdminServerTest, LogsAnUnparsedRequestWithoutTheLastUser)
{
    std::unique_ptr<FILE, int (*)(FILE*)> log(std::tmpfile(), std::fclose);
    ASSERT_TRUE(log);
    m_admin.log = log.get();
    const Browser browser = LogIn("alice");
    RawConnection connection;
    ASSERT_TRUE(connection.Open(nullptr, m_adminPort));
    ASSERT_TRUE(connection.Send("GET /reports HTTP/1.1\r\nHost: x\r\nCookie: " + browser.cookie + "\r\n\r\n" +
                                "GET /reports HTTP/1.1\r\nHost: x\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\n"));
    std::string answers;
    while (connection.Receive(answers, 2000) > 0) {
    }
    // httplib logs after it answers: wait for the line.
    std::string lines;
    for (int i = 0; i < 500 && lines.find(" admin - ") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lines.assign(4096, '\0');
        std::rewind(log.get());
        lines.resize(std::fread(&lines[0], 1, lines.size(), log.get()));
    }
    m_admin.log = nullptr;
    EXPECT_NE(std::string::npos, lines.find(" GET /reports 200 out=")) << lines;
    EXPECT_NE(std::string::npos, lines.find(" user=alice\n")) << lines;
    const size_t refused = lines.find(" admin - ");
    ASSERT_NE(std::string::npos, refused) << lines;
    EXPECT_EQ(std::string::npos, lines.find("user=", refused)) << lines;
}

TEST_F(AdminServerTest, RecordsTriageWithItsAuditList)
{
    const Browser alice = LogIn("alice");
    const Browser bob = LogIn("bob");
    // Triaged at once: the reports are still gathering for the list.
    const int64_t first = Upload(ReportInput{});
    const int64_t second = Upload(ReportInput{});
    const std::string triage = "/reports/" + std::to_string(second) + "/triage";

    const struct
    {
        const Browser* who;
        httplib::Params form;
        int status;
    } steps[] = {
        {&alice, {{"status", "triaged"}, {"note", "seen <it>"}}, 303},
        {&bob, {{"status", "duplicate"}, {"duplicate_of", std::to_string(first)}, {"note", ""}}, 303},
        {&bob, {{"status", "duplicate"}, {"duplicate_of", "999999"}}, 400},
        {&bob, {{"status", "duplicate"}, {"duplicate_of", std::to_string(second)}}, 400},
        {&bob, {{"status", "done"}}, 400},
        {&alice, {{"status", "fixed"}, {"note", std::string(4001, 'n')}}, 400},
    };
    for (const auto& step : steps) {
        httplib::Params form = step.form;
        form.emplace("csrf", step.who->csrf);
        EXPECT_EQ(step.status, Post(triage, form, step.who->cookie).status);
    }
    Triage stored;
    std::vector<AuditEntry> audit;
    std::string error;
    ASSERT_EQ(StoreAnswer::Done, m_admin.store->LoadTriage(second, stored, audit, error));
    EXPECT_EQ("duplicate", stored.status);
    EXPECT_EQ(first, stored.duplicateOf);
    ASSERT_EQ(2u, audit.size());
    EXPECT_EQ("alice", audit[0].user);
    EXPECT_EQ("seen <it>", audit[0].triage.note);
    EXPECT_EQ("bob", audit[1].user);

    const std::string page = Get("/reports/" + std::to_string(second), alice.cookie).body;
    EXPECT_NE(std::string::npos, page.find("<td>alice</td><td>triaged</td><td>seen &lt;it&gt;</td>"));
    EXPECT_NE(std::string::npos, page.find("<td>bob</td><td>duplicate of #" + std::to_string(first) + "</td>"));
    const std::string list = Get("/reports?status=duplicate", alice.cookie).body;
    EXPECT_NE(std::string::npos, list.find("/reports/" + std::to_string(second) + "\""));
    EXPECT_EQ(std::string::npos, list.find("/reports/" + std::to_string(first) + "\""));
}

TEST_F(AdminServerTest, PublishesWhatTheQueriesAnswerByteForByte)
{
    const Browser browser = LogIn("alice");
    const struct
    {
        httplib::Params form;
        int status;
        const char* components;  // what the reporters' query answers after; null: as before
        const char* latest;
    } steps[] = {
        {{{"components", "Editor\r\nRenderer\r\nSound \xc3\xa9\r\n\r\n"}, {"version", "2.5.1"},
          {"update_address", "https://brevora.org/download"}},
         200, "Editor\nRenderer\nSound \xc3\xa9\n", "2.5.1\nhttps://brevora.org/download\n"},
        {{{"components", "Other\n"}, {"version", "3.0\r\nx"}, {"update_address", ""}}, 400, nullptr, nullptr},
        {{{"components", "Other\n"}, {"version", "3.0"}, {"update_address", "javascript:alert(1)"}}, 400, nullptr,
         nullptr},
        {{{"components", std::string(2100, 'c')}, {"version", "3.0"}, {"update_address", ""}}, 400, nullptr, nullptr},
        {{{"components", "Only\n"}, {"version", "3.0"}, {"update_address", ""}}, 200, "Only\n", "3.0\n\n"},
    };
    std::string components = "(none)";
    std::string latest = "(none)";
    for (const auto& step : steps) {
        httplib::Params form = step.form;
        form.emplace("csrf", browser.csrf);
        EXPECT_EQ(step.status, Post("/publish", form, browser.cookie).status);
        if (step.components != nullptr) {
            components = step.components;
            latest = step.latest;
        }
        const Page answeredComponents = Get("/bugreport/components/", "", m_reportPort);
        const Page answeredLatest = Get("/bugreport/latest_version", "", m_reportPort);
        EXPECT_EQ(components, answeredComponents.status == 200 ? answeredComponents.body : "(none)");
        EXPECT_EQ(latest, answeredLatest.status == 200 ? answeredLatest.body : "(none)");
    }
    const std::string page = Get("/publish", browser.cookie).body;
    EXPECT_NE(std::string::npos, page.find("name=\"version\" value=\"3.0\""));
}

TEST_F(AdminServerTest, KeepsTheTwoListenersApart)
{
    const Browser browser = LogIn("alice");
    // The reporters' listener has no page of the interface.
    for (const char* path : {"/", "/login", "/reports", "/reports/1", "/publish", "/style.css"}) {
        SCOPED_TRACE(path);
        const Page page = Get(path, browser.cookie, m_reportPort);
        EXPECT_EQ(404, page.status);
        EXPECT_EQ(std::string::npos, page.body.find("<html"));
    }
    EXPECT_EQ(404, Post("/login", {{"name", "alice"}, {"password", kPassword}}, "", m_reportPort).status);

    // The interface takes no upload, with or without a session.
    httplib::Client client("127.0.0.1", m_adminPort);
    for (const std::string& cookie : {std::string(), browser.cookie}) {
        for (const char* path : {"/bugreport/report/", "/bugreport/crash/"}) {
            httplib::Headers headers;
            if (!cookie.empty())
                headers.emplace("Cookie", cookie);
            httplib::Result result = client.Post(path, headers, EncodeReport(ReportInput{}), kFormType);
            ASSERT_TRUE(result);
            EXPECT_TRUE(result->status == 404 || result->status == 303) << result->status;
        }
    }
    EXPECT_EQ(404, Get("/bugreport/components/", browser.cookie).status);
    std::vector<ReportSummary> stored;
    std::string error;
    ASSERT_TRUE(m_reports.store->ListReports(stored, error)) << error;
    EXPECT_TRUE(stored.empty());
}

// A dump and the binary of its module, as the fuzzer's seed holds them: a
// 32-bit length, the dump, the binary.
void ReadSeedDumpAndBinary(std::string& dump, std::string& binary)
{
    std::ifstream in(std::string(BREVORA_SERVER_FIXTURES) + "/../../../server/fuzz/minidump_corpus/x64-crash-with-binary",
                     std::ios::binary);
    const std::string seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(seed.size(), 4u);
    size_t length = 0;
    for (int i = 3; i >= 0; --i)
        length = length << 8 | static_cast<unsigned char>(seed[i]);
    dump = seed.substr(4, length);
    binary = seed.substr(4 + length);
}

TEST_F(AdminServerTest, FilesCrashReportsIntoGroupsShownOnTheCrashPages)
{
    std::string dump;
    std::string binary;
    ReadSeedDumpAndBinary(dump, binary);
    const Browser browser = LogIn("alice");
    const int64_t first = UploadCrash(dump);
    UploadCrash(dump);
    UploadCrash("MDMP <script>alert(1)</script>");

    // Two groups: the same dump twice, and the one that is none, escaped.
    std::string list = Get("/crashes?days=all", browser.cookie).body;
    const std::string firstGroup = FindBetween(list, "<a href=\"/crashes/", "\"");
    const std::string bare = FindBetween(list, "<a href=\"/crashes/" + firstGroup + "\">", "</a>");
    EXPECT_NE(std::string::npos, bare.find(".exe+0x")) << list;
    EXPECT_NE(std::string::npos, list.find(bare + "</a></td><td class=\"count\">2</td>")) << list;
    EXPECT_NE(std::string::npos, list.find("(no readable dump)</a></td><td class=\"count\">1</td>")) << list;
    EXPECT_NE(std::string::npos, Get("/crashes?days=7", browser.cookie).body.find(bare)) << "stored today";
    EXPECT_EQ(std::string::npos, Get("/crashes?version=9.9", browser.cookie).body.find(bare));

    // The report's page shows its crash and its group.
    const std::string report = Get("/reports/" + std::to_string(first), browser.cookie).body;
    EXPECT_NE(std::string::npos, report.find("<h2>Crash</h2><p>Group: <a href=\"/crashes/" + firstGroup + "\">"))
        << report;
    EXPECT_NE(std::string::npos, report.find("Reason:     EXCEPTION_")) << report;
    EXPECT_EQ(std::string::npos, Get("/crashes", browser.cookie).body.find("<script>alert"));
    for (const Page& page : {Get("/reports/3", browser.cookie), Get("/crashes?days=all", browser.cookie)})
        EXPECT_EQ(std::string::npos, page.body.find("<script>")) << page.body;

    // The status, then the binary: the group is named by function and
    // keeps its reports and status.
    const std::string group = "/crashes/" + firstGroup;
    EXPECT_EQ(400, Post(group + "/status", {{"csrf", browser.csrf}, {"status", "done"}}, browser.cookie).status);
    EXPECT_EQ(303, Post(group + "/status", {{"csrf", browser.csrf}, {"status", "fixed"}, {"fixed_version", "1.2"}},
                        browser.cookie)
                       .status);
    EXPECT_NE(std::string::npos, Get(group, browser.cookie).body.find("fixed in 1.2"));
    httplib::Client client("127.0.0.1", m_adminPort);
    const httplib::Headers cookie = {{"Cookie", browser.cookie}};
    httplib::Result wrong = client.Post("/binaries", cookie,
                                        httplib::MultipartFormDataItems{{"csrf", browser.csrf, "", ""},
                                                                        {"binary", "not a binary", "x.exe", ""}});
    ASSERT_TRUE(wrong);
    EXPECT_EQ(400, wrong->status);
    httplib::Result added = client.Post(
        "/binaries", cookie,
        httplib::MultipartFormDataItems{{"csrf", browser.csrf, "", ""}, {"binary", binary, "brevora.exe", ""}});
    ASSERT_TRUE(added);
    EXPECT_NE(std::string::npos, added->body.find("2 crash reports to be processed again")) << added->body;
    list = Get("/crashes?days=all", browser.cookie).body;
    const std::string named = FindBetween(list, "<a href=\"/crashes/", "</a>");
    EXPECT_NE(std::string::npos, named.find("!")) << list;
    EXPECT_EQ(std::string::npos, list.find(bare)) << list;
}

}  // namespace

TEST_F(AdminServerTest, AddsListsAndRemovesAlertRules)
{
    const Browser browser = LogIn("alice");
    const httplib::Params rule = {{"csrf", browser.csrf}, {"on", "new-group"}, {"on", "spike"},
                                  {"webhook", "https://hooks.example/<b>"}, {"secret", "k"}};
    EXPECT_EQ(303, Post("/alerts", rule, browser.cookie).status);
    const Page listed = Get("/alerts", browser.cookie);
    EXPECT_NE(std::string::npos, listed.body.find("<td>new-group, spike</td><td>any</td>"
                                                  "<td>https://hooks.example/&lt;b&gt; (signed)</td>"));
    // Refused, with the reason on the page: no destination, two, an unknown event.
    const httplib::Params refused[] = {
        {{"csrf", browser.csrf}, {"on", "spike"}},
        {{"csrf", browser.csrf}, {"on", "spike"}, {"email", "a@example.org"}, {"webhook", "https://h.example/"}},
        {{"csrf", browser.csrf}, {"on", "crash"}, {"email", "a@example.org"}},
    };
    for (const httplib::Params& form : refused)
        EXPECT_EQ(400, Post("/alerts", form, browser.cookie).status);
    EXPECT_EQ(303, Post("/alerts/1/remove", {{"csrf", browser.csrf}}, browser.cookie).status);
    EXPECT_EQ(404, Post("/alerts/1/remove", {{"csrf", browser.csrf}}, browser.cookie).status);
    EXPECT_NE(std::string::npos, Get("/alerts", browser.cookie).body.find("No rule yet."));
}
