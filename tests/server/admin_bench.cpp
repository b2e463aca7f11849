// Not a test: how long the maintainers' interface takes to answer with
// 100,000 stored reports. Stores them as the SQLite store packs them
// (texts of a few hundred bytes, a small log; one transaction a thousand
// rows instead of a synced commit each), times the interface's first start
// indexing them, then asks for the first list page, a filtered text search
// and a report page over HTTP, each many times, and prints the median and
// 99th percentile of the time to the whole answer.
//
//   admin_bench [--reports N] [--requests N]
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server/admin/admin_routes.h"
#include "server/store/report_columns.h"
#include "server/store/report_store.h"
#include "server/store/sqlite_handles.h"
#include "server/store/store_factory.h"
#include "server/store/stored_fields.h"
#include "tests/server/temp_folder.h"

namespace {

const char* const kWords[] = {"crash", "save", "window", "flicker", "sound", "editor", "render", "freeze",
                              "texture", "import", "export", "menu", "slow", "memory", "driver", "scene"};

const char* const kComponents[] = {"Editor", "Renderer", "Sound", "Importer", "Scripting"};

std::string MakeSentence(std::mt19937& rng, int words)
{
    std::string text;
    for (int i = 0; i < words; ++i)
        text += std::string(i == 0 ? "" : " ") + kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    return text;
}

bool StoreReports(sqlite3* db, int count)
{
    std::mt19937 rng(7);
    std::string sql = "INSERT INTO reports (";
    for (size_t i = 0; i < kStoredFieldCount; ++i)
        sql += std::string(kStoredFieldNames[i]) + ", ";
    sql += "packing) VALUES (";
    for (size_t i = 1; i <= kStoredFieldCount + 1; ++i)
        sql += "?" + std::to_string(i) + (i <= kStoredFieldCount ? ", " : ")");
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        return false;
    SqliteStatement insert(raw);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (i % 1000 == 0 && sqlite3_exec(db, i == 0 ? "BEGIN" : "COMMIT; BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            return false;
        ReportOrigin origin;
        // Spread over the last 60 days, oldest first.
        const time_t when = time(nullptr) - static_cast<time_t>(60.0 * 86400 * (count - i) / count);
        struct tm utc;
        gmtime_r(&when, &utc);
        char text[64];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", utc.tm_year + 1900, utc.tm_mon + 1,
                      utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
        origin.receivedUtc = text;
        origin.peer = "127.0.0.1:1";
        origin.userAgent = "Brevora Bug Reporter";
        Report report;
        report.email = "user" + std::to_string(i % 5000) + "@example.com";
        report.component = kComponents[i % (sizeof kComponents / sizeof kComponents[0])];
        report.description1 = MakeSentence(rng, 30);
        report.description2 = MakeSentence(rng, 20);
        report.description3 = MakeSentence(rng, 10);
        report.systemInfo = "OS: Windows 10\nMemory: 16 GB\n";
        report.attachment.name = "user_info.txt";
        report.attachment.state = FileState::Content;
        report.attachment.content = std::string(2000, 'd');
        report.attachmentLog.name = "brevora_log.txt";
        report.attachmentLog.state = FileState::Content;
        for (int line = 0; line < 200; ++line)
            report.attachmentLog.content += "12:00:00 " + MakeSentence(rng, 6) + "\n";
        PackedRow packed;
        PackReport(origin, report, "", packed);
        for (size_t column = 0; column < packed.values.size(); ++column)
            sqlite3_bind_blob64(insert.get(), static_cast<int>(column) + 1, packed.values[column].data(),
                                packed.values[column].size(), SQLITE_STATIC);
        sqlite3_bind_int64(insert.get(), static_cast<int>(packed.values.size()) + 1, packed.packing);
        const int rc = sqlite3_step(insert.get());
        sqlite3_reset(insert.get());
        if (rc != SQLITE_DONE) {
            std::fprintf(stderr, "admin_bench: %s\n", sqlite3_errmsg(db));
            return false;
        }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    std::printf("stored %d reports in %.1f s\n", count,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return true;
}

void Measure(httplib::Client& client, const std::string& cookie, const char* what, const std::vector<std::string>& paths,
             int requests)
{
    std::vector<double> times;
    size_t bytes = 0;
    for (int i = 0; i < requests; ++i) {
        const std::string& path = paths[static_cast<size_t>(i) % paths.size()];
        const auto start = std::chrono::steady_clock::now();
        httplib::Result result = client.Get(path.c_str(), {{"Cookie", cookie}});
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        if (!result || result->status != 200) {
            std::fprintf(stderr, "admin_bench: %s answered %d\n", path.c_str(), result ? result->status : 0);
            return;
        }
        bytes += result->body.size();
    }
    std::sort(times.begin(), times.end());
    std::printf("%-28s median %7.2f ms  p99 %7.2f ms  (%d requests, %zu bytes a page)\n", what,
                times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 99 / 100)], requests,
                bytes / times.size());
}

}  // namespace

int main(int argc, char** argv)
{
    int reports = 100000;
    int requests = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--reports") == 0)
            reports = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--requests") == 0)
            requests = std::max(1, std::atoi(argv[i + 1]));
    }
    TempFolder folder;
    AdminService service;
    std::string error;
    std::unique_ptr<ReportStore> reportStore = OpenReportStore(folder.Path(), "", true, error);
    if (!reportStore) {
        std::fprintf(stderr, "admin_bench: %s\n", error.c_str());
        return 1;
    }
    {
        sqlite3* raw = nullptr;
        sqlite3_open((folder.Path() + "/" + kDatabaseFileName).c_str(), &raw);
        SqliteDatabase db(raw);
        if (!StoreReports(db.get(), reports))
            return 1;
    }
    // The first start indexes every report stored before it.
    const auto indexStart = std::chrono::steady_clock::now();
    if (!OpenAdminService(service, folder.Path(), "", *reportStore, error)) {
        std::fprintf(stderr, "admin_bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("first start indexed %d reports in %.1f s\n", reports,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - indexStart).count());
    std::string hash;
    HashPassword("bench-password", hash);
    service.store->AddUser("bench", hash, "t", error);
    const std::string token = MakeRandomToken();
    service.store->CreateSession(DigestToken(token), AdminSession{"bench", MakeRandomToken()}, time(nullptr), error);

    httplib::Server server;
    InstallAdminRoutes(server, service);
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listener([&server] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    const std::string cookie = std::string(kSessionCookie) + "=" + token;
    std::mt19937 rng(11);
    std::vector<std::string> reportPaths;
    std::vector<std::string> searchPaths;
    for (int i = 0; i < 50; ++i) {
        reportPaths.push_back("/reports/" + std::to_string(1 + rng() % static_cast<unsigned>(reports)));
        searchPaths.push_back(std::string("/reports?status=new&q=") + kWords[rng() % 16] + "+" + kWords[rng() % 16]);
    }
    Measure(client, cookie, "list, first page", {"/reports"}, requests);
    Measure(client, cookie, "list, page 100", {"/reports?page=100"}, requests);
    Measure(client, cookie, "list of one component", {"/reports?component=Sound"}, requests);
    Measure(client, cookie, "search of two words + status", searchPaths, requests);
    Measure(client, cookie, "search of a rare word", {"/reports?q=user4999%40example.com"}, requests);
    Measure(client, cookie, "report page", reportPaths, requests);
    Measure(client, cookie, "overview", {"/"}, std::max(1, requests / 10));
    server.stop();
    listener.join();
    return 0;
}
