// What the maintainers' interface keeps and finds: session expiry, the
// index of reports stored before and after it was made (from the decoded
// reports, whose long texts the store keeps compressed), the list's filters
// and search, removal with the reports, and the helpers that make a
// sender's bytes safe to show.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/admin/admin_pages.h"
#include "server/admin/admin_service.h"
#include "server/store/admin_store.h"
#include "server/store/postgres_admin_store.h"
#include "server/store/postgres_handles.h"
#include "server/store/report_store.h"
#include "server/store/sqlite_admin_store.h"
#include "server/store/sqlite_handles.h"
#include "server/store/store_factory.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_postgres.h"

namespace {

// Long enough for the store to keep it as a zstd frame; dots are no words.
const std::string kPadding = "\n" + std::string(600, '.');

int64_t StoreBugReport(ReportStore& reports, const std::string& receivedUtc, const std::string& email,
                       const std::string& whatHappened, const std::string& steps = "steps",
                       const std::string& component = std::string(), const std::string& version = std::string())
{
    ReportOrigin origin;
    origin.receivedUtc = receivedUtc;
    origin.peer = "127.0.0.1:1";
    Report report;
    report.email = email;
    report.description1 = steps + kPadding;
    report.description2 = whatHappened + kPadding;
    report.description3 = "expected";
    report.component = component;
    report.version = version;
    int64_t id = 0;
    std::string error;
    EXPECT_EQ(InsertResult::Stored, reports.InsertReport(origin, report, "", id, error)) << error;
    return id;
}

// Runs sql on the test's database as a maintainer's tool would.
void RunSql(const TestStore& store, const std::string& sql)
{
    if (store.kind == StoreKind::Sqlite) {
        sqlite3* raw = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((store.dataDir + "/reports.db").c_str(), &raw));
        SqliteDatabase db(raw);
        sqlite3_busy_timeout(raw, 10000);
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr)) << sqlite3_errmsg(raw);
    } else {
        PostgresConnection db(PQconnectdb(store.databaseUrl.c_str()));
        PostgresResult result(PQexec(db.get(), sql.c_str()));
        ASSERT_EQ(PGRES_COMMAND_OK, PQresultStatus(result.get())) << PQerrorMessage(db.get());
    }
}

// bytes as a literal of the store's SQL, for the text columns of the index.
std::string MakeBytesLiteral(StoreKind kind, const std::string& bytes)
{
    static const char hex[] = "0123456789abcdef";
    std::string digits;
    for (unsigned char c : bytes) {
        digits += hex[c >> 4];
        digits += hex[c & 15];
    }
    return kind == StoreKind::Sqlite ? "CAST(X'" + digits + "' AS TEXT)" : "'\\x" + digits + "'::bytea";
}

// The interface's store and the reports beside it, on each store.
class AdminStoreTest : public ::testing::TestWithParam<StoreKind>
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(PrepareTestStore(GetParam(), m_folder.Path(), m_store, error)) << error;
    }

    std::unique_ptr<ReportStore> OpenReports()
    {
        std::string error;
        std::unique_ptr<ReportStore> reports = OpenReportStore(m_store.dataDir, m_store.databaseUrl, true, error);
        EXPECT_TRUE(reports) << error;
        return reports;
    }

    std::unique_ptr<AdminStore> OpenAdmin()
    {
        std::string error;
        std::unique_ptr<AdminStore> store = OpenAdminStore(m_store.dataDir, m_store.databaseUrl, error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    TempFolder m_folder;
    TestStore m_store;
};

TEST_P(AdminStoreTest, EndsSessionsIdleForLongerThanTheLimit)
{
    std::string error;
    std::unique_ptr<AdminStore> store = OpenAdmin();
    ASSERT_TRUE(store);
    ASSERT_EQ(StoreAnswer::Done, store->AddUser("ann", "hash", "t", error));
    const int64_t start = 1700000000;
    const int64_t idle = 8 * 3600;
    AdminSession session{"ann", "csrf-token"};
    ASSERT_TRUE(store->CreateSession("digest", session, start, error)) << error;

    const struct
    {
        int64_t at;
        StoreAnswer answer;
    } steps[] = {
        {start + idle, StoreAnswer::Done},           // at the limit: still on, and now used again
        {start + 2 * idle, StoreAnswer::Done},       // idle time counts from the last use
        {start + 3 * idle + 1, StoreAnswer::NotFound},  // over it: ended
        {start + 2 * idle, StoreAnswer::NotFound},   // and forgotten
    };
    for (const auto& step : steps) {
        AdminSession resumed;
        EXPECT_EQ(step.answer, store->ResumeSession("digest", step.at, idle, resumed, error)) << step.at - start;
        if (step.answer == StoreAnswer::Done) {
            EXPECT_EQ("ann", resumed.user);
            EXPECT_EQ("csrf-token", resumed.csrfToken);
        }
    }
    AdminSession unknown;
    EXPECT_EQ(StoreAnswer::NotFound, store->ResumeSession("other", start, idle, unknown, error));
}

TEST_P(AdminStoreTest, ListsFiltersAndSearchesReportsStoredBeforeAndAfterIt)
{
    std::string error;
    std::unique_ptr<ReportStore> reports = OpenReports();
    ASSERT_TRUE(reports);
    // Stored before the index exists, then after: indexed as the server
    // does it, and found by the next page.
    const int64_t a = StoreBugReport(*reports, "2024-03-01T10:00:00.000Z", "ann@example.com", "Crash on save\nmore");
    const int64_t b = StoreBugReport(*reports, "2024-03-02T23:59:59.999Z", "bob@example.com", "Sound stutters",
                                     "steps", "Sound", "2.4.1");
    std::unique_ptr<AdminStore> store = OpenAdmin();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->IndexMissingReports(*reports, true, error)) << error;
    const int64_t c = StoreBugReport(*reports, "2024-03-03T00:00:00.000Z", "cy@example.org", "Saving \"hangs\"",
                                     "open the SAVE dialog, Gr\xFC\xDF" "e", "Editor", "2.5.0");
    StoredReport storedC;
    ASSERT_EQ(LoadResult::Found, reports->LoadReport(c, storedC, error)) << error;
    ASSERT_TRUE(store->IndexReports({DescribeForIndex(c, storedC.origin, storedC.report)}, error)) << error;
    int64_t d = 0;
    CrashReport crash;
    crash.comment = "crashed while saving" + kPadding;
    crash.withVersion = true;
    crash.version = "2.5.0";
    ASSERT_EQ(InsertResult::Stored,
              reports->InsertCrashReport(ReportOrigin{"2024-03-04T08:00:00.000Z", "p", "ua", ""}, crash, "", d, error));
    ASSERT_TRUE(store->IndexMissingReports(*reports, false, error)) << error;
    ASSERT_EQ(StoreAnswer::Done, store->SetTriage(b, Triage{"fixed", 0, "done"}, "ann", "t", error)) << error;
    ASSERT_EQ(StoreAnswer::Done, store->SetTriage(b, Triage{"duplicate", a, "same"}, "bo", "u", error)) << error;
    ASSERT_EQ(StoreAnswer::Done, store->SetTriage(b, Triage{"fixed", 0, "done"}, "ann", "v", error)) << error;
    Triage triageB;
    std::vector<AuditEntry> auditB;
    ASSERT_EQ(StoreAnswer::Done, store->LoadTriage(b, triageB, auditB, error)) << error;
    ASSERT_EQ(3u, auditB.size());
    const char* const whoWhen[][4] = {{"ann", "t", "fixed", "done"}, {"bo", "u", "duplicate", "same"},
                                      {"ann", "v", "fixed", "done"}};
    for (size_t i = 0; i < auditB.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(whoWhen[i][0], auditB[i].user);
        EXPECT_EQ(whoWhen[i][1], auditB[i].atUtc);
        EXPECT_EQ(whoWhen[i][2], auditB[i].triage.status);
        EXPECT_EQ(whoWhen[i][3], auditB[i].triage.note);
    }
    EXPECT_EQ(a, auditB[1].triage.duplicateOf);

    const struct
    {
        const char* name;
        ReportFilter filter;
        std::vector<int64_t> ids;
    } rows[] = {
        {"All", {}, {d, c, b, a}},
        {"Status", {"", "fixed", "", "", "", ""}, {b}},
        {"StatusNew", {"", "new", "", "", "", ""}, {d, c, a}},
        {"From", {"", "", "2024-03-02", "", "", ""}, {d, c, b}},
        {"ToIncludesTheWholeDay", {"", "", "", "2024-03-02", "", ""}, {b, a}},
        {"OneDay", {"", "", "2024-03-03", "2024-03-03", "", ""}, {c}},
        {"Word", {"", "", "", "", "stutters", ""}, {b}},
        {"Prefix", {"", "", "", "", "sav", ""}, {d, c, a}},
        {"CaseAndOtherDescription", {"", "", "", "", "dialog", ""}, {c}},
        {"TypedInTheCodePage", {"", "", "", "", "Gr\xC3\xBC\xC3\x9F" "e", ""}, {c}},
        {"EveryWord", {"", "", "", "", "crash save", ""}, {a}},
        {"Email", {"", "", "", "", "example.org", ""}, {c}},
        {"EmailWords", {"", "", "", "", "cy@EXAMPLE", ""}, {c}},
        {"NotInsideAWord", {"", "", "", "", "ave", ""}, {}},
        {"NoPhraseFromEmailIntoText", {"", "", "", "", "com-steps", ""}, {}},
        {"Phrase", {"", "", "", "", "crash-on", ""}, {a}},
        {"SignsOnly", {"", "", "", "", "( *", ""}, {}},
        {"ControlBytesSplitWords", {"", "", "", "", std::string("stutters\0sound\x01", 15), ""}, {b}},
        {"SignsBesideAWord", {"", "", "", "", "( stutters", ""}, {b}},
        {"QuotesAreText", {"", "", "", "", "\"hangs", ""}, {c}},
        {"SyntaxIsText", {"", "", "", "", "NOT OR ( *", ""}, {}},
        {"TextAndStatus", {"", "new", "", "", "save", ""}, {c, a}},
        {"Component", {"Editor", "", "", "", "", ""}, {c}},
        {"ComponentAndStatus", {"Sound", "fixed", "", "", "", ""}, {b}},
        {"ComponentElsewhere", {"Sound", "", "", "", "save", ""}, {}},
        {"NoComponent", {"Renderer", "", "", "", "", ""}, {}},
        {"Version", {"", "", "", "", "", "2.5.0"}, {d, c}},
        {"VersionAndComponent", {"Sound", "", "", "", "", "2.4.1"}, {b}},
        {"VersionAndText", {"", "", "", "", "sav", "2.5.0"}, {d, c}},
        {"VersionIsExact", {"", "", "", "", "", "2.5"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<ReportLine> lines;
        bool more = true;
        ASSERT_TRUE(store->ListReportLines(row.filter, 0, 50, lines, more, error)) << error;
        std::vector<int64_t> ids;
        for (const ReportLine& line : lines)
            ids.push_back(line.id);
        EXPECT_EQ(row.ids, ids);
        EXPECT_FALSE(more);
    }

    std::vector<ReportLine> page;
    bool more = false;
    ASSERT_TRUE(store->ListReportLines(ReportFilter(), 1, 2, page, more, error));
    ASSERT_EQ(2u, page.size());
    EXPECT_EQ(c, page[0].id);
    EXPECT_TRUE(more);
    EXPECT_EQ(("Saving \"hangs\"" + kPadding).substr(0, 300), page[0].whatHappened);
    EXPECT_EQ("cy@example.org", page[0].email);
    EXPECT_EQ("Editor", page[0].component);
    EXPECT_EQ("2.5.0", page[0].version);
    EXPECT_EQ(ReportKind::Bug, page[0].kind);

    std::vector<DayCount> days;
    ASSERT_TRUE(store->CountReportsPerDay("2024-03-02", days, error)) << error;
    ASSERT_EQ(3u, days.size());
    EXPECT_EQ("2024-03-02", days[0].day);
    EXPECT_EQ(1, days[0].count);
    std::vector<StatusCount> statuses;
    ASSERT_TRUE(store->CountStatuses(statuses, error)) << error;
    ASSERT_EQ(2u, statuses.size());
    EXPECT_EQ("fixed", statuses[0].status);
    EXPECT_EQ(1, statuses[0].count);
    EXPECT_EQ(3, statuses[1].count);

    // Opened again: nothing indexed twice, and the triage kept.
    store.reset();
    store = OpenAdmin();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->IndexMissingReports(*reports, true, error)) << error;
    ASSERT_TRUE(store->IndexReports({DescribeForIndex(c, storedC.origin, storedC.report)}, error)) << error;
    std::vector<ReportLine> again;
    ASSERT_TRUE(store->ListReportLines(ReportFilter{"", "", "", "", "save", ""}, 0, 50, again, more, error));
    EXPECT_EQ(2u, again.size());
    ASSERT_TRUE(store->ListReportLines(ReportFilter{"", "fixed", "", "", "", ""}, 0, 50, again, more, error));
    EXPECT_EQ(1u, again.size());

    // Removed reports (prune, forget) leave no line, words or audit behind.
    ASSERT_TRUE(store->SetTriage(a, Triage{"invalid", 0, "spam"}, "ann", "t", error) == StoreAnswer::Done);
    ASSERT_TRUE(reports->RemoveReports({a, d}, error)) << error;
    ASSERT_TRUE(store->ListReportLines(ReportFilter{"", "", "", "", "sav", ""}, 0, 50, again, more, error));
    ASSERT_EQ(1u, again.size());
    EXPECT_EQ(c, again[0].id);
    Triage triage;
    std::vector<AuditEntry> audit;
    EXPECT_EQ(StoreAnswer::NotFound, store->LoadTriage(a, triage, audit, error));
    ASSERT_TRUE(store->IndexMissingReports(*reports, true, error)) << error;
    ASSERT_TRUE(store->ListReportLines(ReportFilter(), 0, 50, again, more, error));
    EXPECT_EQ(2u, again.size());
}

// An older server's table had no version column, and its lines and words
// held a bug report's texts as sent, in the report's code page. Opened now,
// every line gains its report's version and reads, and is found, as typed,
// its triage kept; opened again, nothing is done twice.
TEST_P(AdminStoreTest, BringsTheLinesOfAnOlderServerUpToDateOnce)
{
    std::string error;
    std::unique_ptr<ReportStore> reports = OpenReports();
    ASSERT_TRUE(reports);
    const struct
    {
        const char* codePage;
        std::string email;  // as sent
        std::string what;
        const char* version;
        std::string typedEmail;  // as the list shows it
        std::string typedWhat;
        const char* word;  // typed into the search box, finding this report only
    } rows[] = {
        {"1252", "j\xFCrgen@example.com", "Abgest\xFCrzt beim \x84Speichern\x93", "2.4.1",
         "j\xC3\xBCrgen@example.com", "Abgest\xC3\xBCrzt beim \xE2\x80\x9ESpeichern\xE2\x80\x9C",
         "speichern"},
        {"1251", "ivan@example.com", "\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0", "2.5.0", "ivan@example.com",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
    };
    std::vector<int64_t> ids;
    for (const auto& row : rows) {
        Report report;
        report.email = row.email;
        report.description1 = "steps";
        report.description2 = row.what + kPadding;
        report.originLines = true;
        report.codePage = row.codePage;
        report.version = row.version;
        int64_t id = 0;
        ASSERT_EQ(InsertResult::Stored,
                  reports->InsertReport(ReportOrigin{"2024-03-01T10:00:00.000Z", "p", "ua", ""}, report, "", id, error))
            << error;
        ids.push_back(id);
    }
    CrashReport crash;
    crash.comment = "crashed at start";
    crash.withVersion = true;
    crash.version = "2.5.0";
    int64_t crashId = 0;
    ASSERT_EQ(InsertResult::Stored, reports->InsertCrashReport(ReportOrigin{"2024-03-02T10:00:00.000Z", "p", "ua", ""},
                                                               crash, "", crashId, error))
        << error;
    std::unique_ptr<AdminStore> store = OpenAdmin();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->IndexMissingReports(*reports, true, error)) << error;
    ASSERT_EQ(StoreAnswer::Done, store->SetTriage(ids[0], Triage{"triaged", 0, "seen"}, "ann", "t", error)) << error;
    store.reset();

    // The table as the older server left it: its lines, and its words, as sent.
    const StoreKind kind = m_store.kind;
    std::string older = kind == StoreKind::Sqlite ? "DROP INDEX admin_reports_by_version;" : "";
    older += "ALTER TABLE admin_reports DROP COLUMN version;";
    for (size_t i = 0; i < ids.size(); ++i) {
        const std::string id = std::to_string(ids[i]);
        const std::string email = MakeBytesLiteral(kind, rows[i].email);
        const std::string what = MakeBytesLiteral(kind, rows[i].what);
        older += "UPDATE admin_reports SET email = " + email + ", what = " + what + " WHERE id = " + id + ";";
        older += kind == StoreKind::Sqlite
                     ? "DELETE FROM admin_search WHERE rowid = " + id + "; INSERT INTO admin_search (rowid, email,"
                           " descriptions) VALUES (" + id + ", " + email + ", " + what + ");"
                     : "UPDATE admin_reports SET words = ' ' || convert_from(" + email + ", 'LATIN1') || ' | ' ||"
                           " convert_from(" + what + ", 'LATIN1') WHERE id = " + id + ";";
    }
    RunSql(m_store, older);

    for (int open = 1; open <= 2; ++open) {
        SCOPED_TRACE(open == 1 ? "brought up to date" : "opened again");
        store = OpenAdmin();
        ASSERT_TRUE(store);
        ASSERT_TRUE(store->IndexMissingReports(*reports, true, error)) << error;
        std::vector<ReportLine> lines;
        bool more = false;
        ASSERT_TRUE(store->ListReportLines(ReportFilter(), 0, 50, lines, more, error)) << error;
        ASSERT_EQ(3u, lines.size());
        EXPECT_EQ(crashId, lines[0].id);
        EXPECT_EQ("2.5.0", lines[0].version);
        for (size_t i = 0; i < ids.size(); ++i) {
            SCOPED_TRACE(rows[i].word);
            const ReportLine& line = lines[lines.size() - 1 - i];
            ASSERT_EQ(ids[i], line.id);
            EXPECT_EQ(rows[i].version, line.version);
            EXPECT_EQ(rows[i].typedEmail, line.email);
            EXPECT_EQ(i == 0 ? "triaged" : "new", line.status);
            // The first line's text is changed below: the second open leaves it.
            EXPECT_EQ(open == 2 && i == 0 ? "changed since" : (rows[i].typedWhat + kPadding).substr(0, 300),
                      line.whatHappened);
            std::vector<ReportLine> found;
            ASSERT_TRUE(store->ListReportLines(ReportFilter{"", "", "", "", rows[i].word, ""}, 0, 50, found, more,
                                               error))
                << error;
            ASSERT_EQ(1u, found.size());
            EXPECT_EQ(ids[i], found[0].id);
        }
        store.reset();
        if (open == 1)
            RunSql(m_store, "UPDATE admin_reports SET what = " + MakeBytesLiteral(kind, "changed since") +
                                " WHERE id = " + std::to_string(ids[0]));
    }
}

INSTANTIATE_TEST_SUITE_P(BothStores, AdminStoreTest, ::testing::ValuesIn(kBothStores),
                         [](const ::testing::TestParamInfo<StoreKind>& info) { return NameStoreKind(info.param); });

// Servers sharing a database draw ids before their reports commit: a
// report of another server may be committed after a later id was indexed,
// and the next page still finds it.
TEST(PostgresAdminStore, IndexesAReportCommittedAfterALaterId)
{
    TempFolder folder;
    TestStore where;
    std::string error;
    ASSERT_TRUE(PrepareTestStore(StoreKind::Postgres, folder.Path(), where, error)) << error;
    std::unique_ptr<ReportStore> reports = OpenReportStore("", where.databaseUrl, true, error);
    ASSERT_TRUE(reports) << error;
    std::unique_ptr<AdminStore> store = OpenPostgresAdminStore(where.databaseUrl, error);
    ASSERT_TRUE(store) << error;
    const int64_t late = StoreBugReport(*reports, "2024-03-01T10:00:00.000Z", "ann@example.com", "Late commit");
    const int64_t later = StoreBugReport(*reports, "2024-03-01T10:00:01.000Z", "bob@example.com", "Indexed first");
    StoredReport stored;
    ASSERT_EQ(LoadResult::Found, reports->LoadReport(later, stored, error)) << error;
    ASSERT_TRUE(store->IndexReports({DescribeForIndex(later, stored.origin, stored.report)}, error)) << error;

    ASSERT_TRUE(store->IndexMissingReports(*reports, false, error)) << error;
    std::vector<ReportLine> lines;
    bool more = false;
    ASSERT_TRUE(store->ListReportLines(ReportFilter(), 0, 50, lines, more, error)) << error;
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(later, lines[0].id);
    EXPECT_EQ(late, lines[1].id);
}

// The first interface indexed through insert triggers on the stored columns
// into a contentless index; opened now, both go, and every report is found
// again by its words with its triage kept.
TEST(AdminStore, BringsOverTheFirstInterfacesIndex)
{
    TempFolder folder;
    std::string error;
    std::unique_ptr<ReportStore> reports = OpenReportStore(folder.Path(), "", true, error);
    ASSERT_TRUE(reports) << error;
    const int64_t a = StoreBugReport(*reports, "2024-03-01T10:00:00.000Z", "ann@example.com", "Flicker in the editor");
    {
        std::unique_ptr<AdminStore> store = OpenSqliteAdminStore(folder.Path(), error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->IndexMissingReports(*reports, true, error)) << error;
        ASSERT_EQ(StoreAnswer::Done, store->SetTriage(a, Triage{"triaged", 0, "seen"}, "ann", "t", error));
    }
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((folder.Path() + "/reports.db").c_str(), &raw));
        SqliteDatabase db(raw);
        const char* firstSchema =
            "DROP TABLE admin_search;"
            "CREATE VIRTUAL TABLE admin_search USING fts5(email, descriptions, content='',"
            " tokenize='unicode61 remove_diacritics 2');"
            "CREATE TRIGGER admin_index_bug_report AFTER INSERT ON reports BEGIN"
            " INSERT INTO admin_reports (id, kind, received_utc, email, what) VALUES (new.id, 0, '', '', ''); END;";
        ASSERT_EQ(SQLITE_OK, sqlite3_exec(db.get(), firstSchema, nullptr, nullptr, nullptr)) << sqlite3_errmsg(db.get());
    }
    std::unique_ptr<AdminStore> store = OpenSqliteAdminStore(folder.Path(), error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->IndexMissingReports(*reports, true, error)) << error;
    // The old trigger would have taken the new report's line first.
    const int64_t b = StoreBugReport(*reports, "2024-03-02T10:00:00.000Z", "bob@example.com", "Editor freezes", "s",
                                     "Editor");
    ASSERT_TRUE(store->IndexMissingReports(*reports, false, error)) << error;
    std::vector<ReportLine> lines;
    bool more = false;
    ASSERT_TRUE(store->ListReportLines(ReportFilter{"", "", "", "", "editor", ""}, 0, 50, lines, more, error))
        << error;
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(b, lines[0].id);
    EXPECT_EQ("Editor", lines[0].component);
    EXPECT_EQ("triaged", lines[1].status);
    ASSERT_TRUE(reports->RemoveReports({a}, error)) << error;
    ASSERT_TRUE(store->ListReportLines(ReportFilter{"", "", "", "", "flicker", ""}, 0, 50, lines, more, error))
        << error;
    EXPECT_TRUE(lines.empty());
}

TEST(AdminPages, MakesSenderBytesSafeToShowAndToName)
{
    const struct
    {
        std::string bytes;
        std::string text;
    } texts[] = {
        {"plain\nlines\ttab", "plain\nlines\ttab"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},             // UTF-8 stays
        {"caf\xe9", "caf\xc3\xa9"},                 // an 8-bit byte reads as Latin-1
        {"\xc3", "\xc3\x83"},                       // a cut sequence too
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\\x80"},  // no surrogates; a C1 byte escaped
        {"\xc2\x9b[31m", "\\x9B[31m"},                   // a C1 control in UTF-8 too
        {std::string("nul\0esc\x1b\x7f", 9), "nul\\x00esc\\x1B\\x7F"},
        {"a\r\nb", "a\nb"},
    };
    for (const auto& row : texts)
        EXPECT_EQ(row.text, MakeDisplayText(row.bytes)) << row.bytes;

    const struct
    {
        const char* name;
        const char* safe;
    } names[] = {
        {"brevora_log.txt", "brevora_log.txt"},
        {"../../etc/passwd", "passwd"},
        {"C:\\Users\\me\\dxdiag.txt", "dxdiag.txt"},
        {"a\"b;c\r\nd.txt", "a_b_c__d.txt"},
        {".hidden", "hidden"},
        {"-rf", "rf"},
        {"$(id).log", "__id_.log"},
        {"...", "fallback.bin"},
        {"", "fallback.bin"},
        {"\xc3\xa9t\xc3\xa9.log", "__t__.log"},
    };
    for (const auto& row : names)
        EXPECT_EQ(row.safe, MakeSafeFileName(row.name, "fallback.bin")) << row.name;
    EXPECT_EQ(100u, MakeSafeFileName(std::string(300, 'x'), "f").size());

    const struct
    {
        std::string text;
        size_t count;
        std::vector<std::string> lines;
        size_t first;
    } tails[] = {
        {"", 3, {}, 1},
        {"one", 3, {"one"}, 1},
        {"one\ntwo\n", 3, {"one", "two"}, 1},
        {"1\n2\n3\n4\n5\n", 2, {"4", "5"}, 4},
        {"1\r\n2\r\n3", 2, {"2", "3"}, 2},
        {"\n\nx", 2, {"", "x"}, 2},
    };
    for (const auto& row : tails) {
        size_t first = 0;
        EXPECT_EQ(row.lines, TakeLastLines(row.text, row.count, first)) << row.text;
        EXPECT_EQ(row.first, first) << row.text;
    }
}

// Reports added from several threads while each batch's commit takes a
// while: every one is indexed once, each thread's in its order, several to
// a batch. Flush returns once all added before it are through, and the
// queue's end indexes whatever still waits, both without waiting out the
// gathering (two minutes here, against the one a case may take);
// otherwise a batch goes when its gathering time is up.
TEST(IndexQueue, IndexesEveryReportOnceInBatches)
{
    enum Wait { Flushed, Ended, GatheringOver };
    struct Case
    {
        int threads;
        int perThread;
        Wait wait;
    };
    for (const Case& c : {Case{1, 40, Flushed}, Case{4, 40, Flushed}, Case{4, 40, Ended}, Case{4, 40, GatheringOver}}) {
        SCOPED_TRACE(std::to_string(c.threads) + " threads, wait " + std::to_string(c.wait));
        const size_t total = static_cast<size_t>(c.threads * c.perThread);
        std::mutex mutex;
        std::vector<int64_t> indexed;
        size_t batches = 0;
        auto countIndexed = [&]() {
            std::lock_guard<std::mutex> lock(mutex);
            return indexed.size();
        };
        const auto start = std::chrono::steady_clock::now();
        {
            const std::chrono::milliseconds gather(c.wait == GatheringOver ? 20 : 120 * 1000);
            IndexQueue queue(
                [&](const std::vector<IndexedReport>& batch) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(3));
                    std::lock_guard<std::mutex> lock(mutex);
                    for (const IndexedReport& report : batch)
                        indexed.push_back(report.id);
                    ++batches;
                },
                gather);
            std::vector<std::thread> adders;
            for (int t = 0; t < c.threads; ++t) {
                adders.emplace_back([&queue, &c, t]() {
                    for (int i = 0; i < c.perThread; ++i) {
                        IndexedReport report;
                        report.id = t * 1000 + i;
                        queue.Add(report);
                    }
                });
            }
            for (std::thread& adder : adders)
                adder.join();
            if (c.wait == Flushed) {
                queue.Flush();
                EXPECT_EQ(countIndexed(), total);
            } else if (c.wait == GatheringOver) {
                for (int i = 0; i < 1000 && countIndexed() < total; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                EXPECT_EQ(countIndexed(), total);
            }
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(1));
        ASSERT_EQ(indexed.size(), total);
        EXPECT_LT(batches, total);
        std::vector<int64_t> next(static_cast<size_t>(c.threads), 0);
        for (int64_t id : indexed) {
            const size_t thread = static_cast<size_t>(id / 1000);
            ASSERT_LT(thread, next.size());
            EXPECT_EQ(id % 1000, next[thread]++) << "out of order or twice";
        }
    }
}

}  // namespace
