// The maintainers' interface's tables in reports.db, beside the reports
// they describe.
#include "server/store/sqlite_admin_store.h"

#include <mutex>
#include <utility>

#include "server/store/sqlite_connection.h"
#include "server/store/sqlite_handles.h"
#include "server/store/sqlite_report_store.h"

namespace {

// The report list reads this index, not the report tables: their rows carry
// the attachments (and zstd frames where the texts are long), and a page of
// 50 lines must not walk them. The server fills it from each decoded report
// as it is stored; removing a report removes its rows here through the
// triggers, whichever process removes it.
const char kCreateAdminSchema[] =
    "CREATE TABLE IF NOT EXISTS admin_users ("
    " name TEXT PRIMARY KEY, hash TEXT NOT NULL, created_utc TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS admin_sessions ("
    " token_digest TEXT PRIMARY KEY, user TEXT NOT NULL, csrf TEXT NOT NULL, last_used INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS admin_reports ("
    " id INTEGER PRIMARY KEY, kind INTEGER NOT NULL, received_utc TEXT NOT NULL,"
    " component TEXT NOT NULL DEFAULT '', email TEXT NOT NULL, what TEXT NOT NULL,"
    " status TEXT NOT NULL DEFAULT 'new', duplicate_of INTEGER NOT NULL DEFAULT 0, note TEXT NOT NULL DEFAULT '',"
    " version TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX IF NOT EXISTS admin_reports_by_status ON admin_reports (status, id);"
    "CREATE INDEX IF NOT EXISTS admin_reports_by_component ON admin_reports (component, id);"
    "CREATE INDEX IF NOT EXISTS admin_reports_by_time ON admin_reports (received_utc, component);"
    "CREATE TABLE IF NOT EXISTS admin_audit ("
    " seq INTEGER PRIMARY KEY, report_id INTEGER NOT NULL, at_utc TEXT NOT NULL, user TEXT NOT NULL,"
    " status TEXT NOT NULL, duplicate_of INTEGER NOT NULL, note TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS admin_audit_by_report ON admin_audit (report_id, seq);"
    // Keeps its own copy of the texts: the report tables may hold them as
    // zstd frames, and this SQLite (3.40) cannot delete from a contentless
    // index.
    "CREATE VIRTUAL TABLE IF NOT EXISTS admin_search USING fts5("
    " email, descriptions, tokenize='unicode61 remove_diacritics 2');"
    // The first interface's triggers indexed the stored columns themselves.
    "DROP TRIGGER IF EXISTS admin_index_bug_report;"
    "DROP TRIGGER IF EXISTS admin_index_crash_report;"
    "CREATE TRIGGER IF NOT EXISTS admin_forget_bug_report AFTER DELETE ON reports BEGIN"
    " DELETE FROM admin_reports WHERE id = old.id; DELETE FROM admin_search WHERE rowid = old.id;"
    " DELETE FROM admin_audit WHERE report_id = old.id; END;"
    "CREATE TRIGGER IF NOT EXISTS admin_forget_crash_report AFTER DELETE ON crash_reports BEGIN"
    " DELETE FROM admin_reports WHERE id = old.id; DELETE FROM admin_search WHERE rowid = old.id;"
    " DELETE FROM admin_audit WHERE report_id = old.id; END;";

// After the version column, which a table of an older server gains first.
const char kIndexVersions[] = "CREATE INDEX IF NOT EXISTS admin_reports_by_version ON admin_reports (version, id)";

// The first interface's search index was contentless: it cannot forget a
// report's words, so it is made again and refilled from the reports.
const char kFindContentlessSearch[] =
    "SELECT count(*) FROM sqlite_master WHERE name = 'admin_search' AND sql LIKE '%content=''''%'";

// Words as FTS5 strings, each also matching as a prefix: what a reporter
// typed never reaches FTS5 as query syntax.
std::string MakeMatchQuery(const std::string& text)
{
    std::string query;
    for (const std::string& piece : SplitSearchText(text)) {
        std::string word;
        for (char c : piece)
            word += c == '"' ? std::string("\"\"") : std::string(1, c);
        query += (query.empty() ? "\"" : " \"") + word + "\"*";
    }
    return query;
}

bool HasVersionColumn(sqlite3* db, bool& has, std::string& error)
{
    has = false;
    return QuerySqliteRows(
        db, "SELECT count(*) FROM pragma_table_info('admin_reports') WHERE name = 'version'", [](sqlite3_stmt*) {},
        [&has](sqlite3_stmt* s) { has = sqlite3_column_int(s, 0) > 0; }, error);
}

// An older server's lines have no version, and their texts are the bytes
// as sent rather than converted from the report's code page: once, when
// the column is added, every line and its words are made again as a new
// report's are. Inside the transaction that makes the tables.
bool AddVersionToLines(sqlite3* db, ReportStore& reports, std::string& error)
{
    bool has = false;
    if (!HasVersionColumn(db, has, error))
        return false;
    if (has)
        return true;
    if (!ExecuteSqlite(db, "ALTER TABLE admin_reports ADD COLUMN version TEXT NOT NULL DEFAULT ''", error))
        return false;
    const auto findBatch = [db](int64_t after, size_t count, std::vector<std::pair<int64_t, ReportKind>>& lines,
                                std::string& failure) {
        return QuerySqliteRows(
            db, "SELECT id, kind FROM admin_reports WHERE id > ?1 ORDER BY id LIMIT ?2",
            [&](sqlite3_stmt* s) {
                sqlite3_bind_int64(s, 1, after);
                sqlite3_bind_int64(s, 2, static_cast<int64_t>(count));
            },
            [&lines](sqlite3_stmt* s) {
                lines.emplace_back(sqlite3_column_int64(s, 0),
                                   sqlite3_column_int(s, 1) != 0 ? ReportKind::Crash : ReportKind::Bug);
            },
            failure);
    };
    const auto rewrite = [db](const std::vector<IndexedReport>& batch, std::string& failure) {
        SqliteStatement line =
            PrepareSqlite(db, "UPDATE admin_reports SET version = ?2, email = ?3, what = ?4 WHERE id = ?1", failure);
        SqliteStatement forget = PrepareSqlite(db, "DELETE FROM admin_search WHERE rowid = ?1", failure);
        SqliteStatement search =
            PrepareSqlite(db, "INSERT INTO admin_search (rowid, email, descriptions) VALUES (?1, ?2, ?3)", failure);
        bool done = line && forget && search;
        for (size_t i = 0; done && i < batch.size(); ++i) {
            const IndexedReport& report = batch[i];
            sqlite3_bind_int64(line.get(), 1, report.id);
            BindText(line.get(), 2, report.version);
            BindText(line.get(), 3, report.email);
            BindText(line.get(), 4, report.whatHappened);
            sqlite3_bind_int64(forget.get(), 1, report.id);
            sqlite3_bind_int64(search.get(), 1, report.id);
            BindText(search.get(), 2, report.email);
            BindText(search.get(), 3, report.searchText);
            done = sqlite3_step(line.get()) == SQLITE_DONE && sqlite3_step(forget.get()) == SQLITE_DONE &&
                   sqlite3_step(search.get()) == SQLITE_DONE;
            if (!done)
                failure = DescribeSqliteError(db, "cannot index report " + std::to_string(report.id) + " again");
            sqlite3_reset(line.get());
            sqlite3_reset(forget.get());
            sqlite3_reset(search.get());
        }
        return done;
    };
    return DescribeIndexedReportsAgain(reports, findBatch, rewrite, error);
}

class SqliteAdminStore : public AdminStore
{
public:
    explicit SqliteAdminStore(SqliteDatabase db) : m_db(std::move(db)) {}

    StoreAnswer AddUser(const std::string& name, const std::string& hash, const std::string& createdUtc,
                        std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SqliteStatement s = PrepareSqlite(m_db.get(),
                                    "INSERT OR IGNORE INTO admin_users (name, hash, created_utc) VALUES (?1, ?2, ?3)",
                                    error);
        if (!s)
            return StoreAnswer::Failed;
        BindText(s.get(), 1, name);
        BindText(s.get(), 2, hash);
        BindText(s.get(), 3, createdUtc);
        if (sqlite3_step(s.get()) != SQLITE_DONE) {
            error = DescribeSqliteError(m_db.get(), "cannot add the user");
            return StoreAnswer::Failed;
        }
        return sqlite3_changes(m_db.get()) == 1 ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    StoreAnswer RemoveUser(const std::string& name, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sqlite3* db = m_db.get();
        const auto bindName = [&](sqlite3_stmt* s) { BindText(s, 1, name); };
        int removed = 0;
        const bool done = RunSqliteTransaction(
            db,
            [&]() {
                if (!RunSqliteStatement(db, "DELETE FROM admin_users WHERE name = ?1", bindName, error,
                                        "cannot remove the user"))
                    return false;
                removed = sqlite3_changes(db);
                return RunSqliteStatement(db, "DELETE FROM admin_sessions WHERE user = ?1", bindName, error,
                                          "cannot remove the user");
            },
            error);
        if (!done)
            return StoreAnswer::Failed;
        return removed == 1 ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    bool ListUsers(std::vector<AdminUser>& users, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        users.clear();
        return QuerySqliteRows(
            m_db.get(), "SELECT name, created_utc FROM admin_users ORDER BY name", [](sqlite3_stmt*) {},
            [&](sqlite3_stmt* s) { users.push_back(AdminUser{ColumnText(s, 0), ColumnText(s, 1)}); }, error,
            "cannot list the users");
    }

    StoreAnswer FindPasswordHash(const std::string& name, std::string& hash, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SqliteStatement s = PrepareSqlite(m_db.get(), "SELECT hash FROM admin_users WHERE name = ?1", error);
        if (!s)
            return StoreAnswer::Failed;
        BindText(s.get(), 1, name);
        const int rc = sqlite3_step(s.get());
        if (rc == SQLITE_DONE)
            return StoreAnswer::NotFound;
        if (rc != SQLITE_ROW) {
            error = DescribeSqliteError(m_db.get(), "cannot read the user");
            return StoreAnswer::Failed;
        }
        hash = ColumnText(s.get(), 0);
        return StoreAnswer::Done;
    }

    bool CreateSession(const std::string& tokenDigest, const AdminSession& session, int64_t now,
                       std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Sessions idle for a day have long ended: forget them here.
        SqliteStatement prune = PrepareSqlite(m_db.get(), "DELETE FROM admin_sessions WHERE last_used < ?1", error);
        SqliteStatement s = PrepareSqlite(m_db.get(),
                                    "INSERT INTO admin_sessions (token_digest, user, csrf, last_used)"
                                    " VALUES (?1, ?2, ?3, ?4)",
                                    error);
        if (!prune || !s)
            return false;
        sqlite3_bind_int64(prune.get(), 1, now - 86400);
        BindText(s.get(), 1, tokenDigest);
        BindText(s.get(), 2, session.user);
        BindText(s.get(), 3, session.csrfToken);
        sqlite3_bind_int64(s.get(), 4, now);
        if (sqlite3_step(prune.get()) != SQLITE_DONE || sqlite3_step(s.get()) != SQLITE_DONE) {
            error = DescribeSqliteError(m_db.get(), "cannot store the session");
            return false;
        }
        return true;
    }

    StoreAnswer ResumeSession(const std::string& tokenDigest, int64_t now, int64_t idleSeconds,
                              AdminSession& session, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SqliteStatement s = PrepareSqlite(m_db.get(),
                                    "SELECT s.user, s.csrf, s.last_used FROM admin_sessions s"
                                    " JOIN admin_users u ON u.name = s.user WHERE s.token_digest = ?1",
                                    error);
        if (!s)
            return StoreAnswer::Failed;
        BindText(s.get(), 1, tokenDigest);
        const int rc = sqlite3_step(s.get());
        if (rc == SQLITE_DONE)
            return StoreAnswer::NotFound;
        if (rc != SQLITE_ROW) {
            error = DescribeSqliteError(m_db.get(), "cannot read the session");
            return StoreAnswer::Failed;
        }
        session.user = ColumnText(s.get(), 0);
        session.csrfToken = ColumnText(s.get(), 1);
        const int64_t lastUsed = sqlite3_column_int64(s.get(), 2);
        s.reset();
        const bool ended = now - lastUsed > idleSeconds;
        // A write per page would cost a synced commit each: a minute's
        // precision is plenty for an idle limit of hours.
        if (!ended && now - lastUsed < 60)
            return StoreAnswer::Done;
        SqliteStatement update = PrepareSqlite(m_db.get(),
                                         ended ? "DELETE FROM admin_sessions WHERE token_digest = ?1"
                                               : "UPDATE admin_sessions SET last_used = ?2 WHERE token_digest = ?1",
                                         error);
        if (!update)
            return StoreAnswer::Failed;
        BindText(update.get(), 1, tokenDigest);
        if (!ended)
            sqlite3_bind_int64(update.get(), 2, now);
        if (sqlite3_step(update.get()) != SQLITE_DONE) {
            error = DescribeSqliteError(m_db.get(), "cannot update the session");
            return StoreAnswer::Failed;
        }
        return ended ? StoreAnswer::NotFound : StoreAnswer::Done;
    }

    bool EndSession(const std::string& tokenDigest, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SqliteStatement s = PrepareSqlite(m_db.get(), "DELETE FROM admin_sessions WHERE token_digest = ?1", error);
        if (!s)
            return false;
        BindText(s.get(), 1, tokenDigest);
        if (sqlite3_step(s.get()) != SQLITE_DONE) {
            error = DescribeSqliteError(m_db.get(), "cannot end the session");
            return false;
        }
        return true;
    }

    StoreAnswer SetTriage(int64_t id, const Triage& triage, const std::string& user, const std::string& atUtc,
                          std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sqlite3* db = m_db.get();
        StoreAnswer answer = StoreAnswer::Failed;
        const bool done = RunSqliteTransaction(
            db,
            [&]() {
                if (!RunSqliteStatement(
                        db, "UPDATE admin_reports SET status = ?2, duplicate_of = ?3, note = ?4 WHERE id = ?1",
                        [&](sqlite3_stmt* s) {
                            sqlite3_bind_int64(s, 1, id);
                            BindText(s, 2, triage.status);
                            sqlite3_bind_int64(s, 3, triage.duplicateOf);
                            BindText(s, 4, triage.note);
                        },
                        error, "cannot store the triage"))
                    return false;
                if (sqlite3_changes(db) == 0) {
                    answer = StoreAnswer::NotFound;
                    return false;
                }
                return RunSqliteStatement(
                    db,
                    "INSERT INTO admin_audit (report_id, at_utc, user, status, duplicate_of, note)"
                    " VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                    [&](sqlite3_stmt* s) {
                        sqlite3_bind_int64(s, 1, id);
                        BindText(s, 2, atUtc);
                        BindText(s, 3, user);
                        BindText(s, 4, triage.status);
                        sqlite3_bind_int64(s, 5, triage.duplicateOf);
                        BindText(s, 6, triage.note);
                    },
                    error, "cannot store the audit line");
            },
            error);
        return done ? StoreAnswer::Done : answer;
    }

    StoreAnswer LoadTriage(int64_t id, Triage& triage, std::vector<AuditEntry>& audit, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SqliteStatement s =
            PrepareSqlite(m_db.get(), "SELECT status, duplicate_of, note FROM admin_reports WHERE id = ?1", error);
        if (!s)
            return StoreAnswer::Failed;
        sqlite3_bind_int64(s.get(), 1, id);
        int rc = sqlite3_step(s.get());
        if (rc == SQLITE_DONE)
            return StoreAnswer::NotFound;
        if (rc != SQLITE_ROW) {
            error = DescribeSqliteError(m_db.get(), "cannot read the triage");
            return StoreAnswer::Failed;
        }
        triage.status = ColumnText(s.get(), 0);
        triage.duplicateOf = sqlite3_column_int64(s.get(), 1);
        triage.note = ColumnText(s.get(), 2);
        audit.clear();
        const bool read = QuerySqliteRows(
            m_db.get(),
            "SELECT at_utc, user, status, duplicate_of, note FROM admin_audit WHERE report_id = ?1 ORDER BY seq",
            [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, id); },
            [&](sqlite3_stmt* s) {
                AuditEntry entry;
                entry.atUtc = ColumnText(s, 0);
                entry.user = ColumnText(s, 1);
                entry.triage.status = ColumnText(s, 2);
                entry.triage.duplicateOf = sqlite3_column_int64(s, 3);
                entry.triage.note = ColumnText(s, 4);
                audit.push_back(entry);
            },
            error, "cannot read the audit list");
        return read ? StoreAnswer::Done : StoreAnswer::Failed;
    }

    bool ListReportLines(const ReportFilter& filter, int64_t offset, int64_t count, std::vector<ReportLine>& lines,
                         bool& more, std::string& error) override
    {
        const std::string match = MakeMatchQuery(filter.text);
        // With words, the search index leads in id order, newest first, so
        // that a page stops after its lines instead of collecting every match.
        std::string sql = match.empty()
                              ? "SELECT id, kind, received_utc, component, email, what, status, version"
                                " FROM admin_reports WHERE 1"
                              : "SELECT r.id, r.kind, r.received_utc, r.component, r.email, r.what, r.status, r.version"
                                " FROM admin_search s JOIN admin_reports r ON r.id = s.rowid"
                                " WHERE admin_search MATCH ?5";
        if (!filter.component.empty())
            sql += " AND component = ?1";
        if (!filter.status.empty())
            sql += " AND status = ?2";
        if (!filter.version.empty())
            sql += " AND version = ?8";
        if (!filter.fromDate.empty())
            sql += " AND received_utc >= ?3";
        // "2024-05-01U" sorts after every time of that day ("2024-05-01T...").
        if (!filter.toDate.empty())
            sql += " AND received_utc < ?4 || 'U'";
        sql += match.empty() ? " ORDER BY id DESC LIMIT ?6 OFFSET ?7" : " ORDER BY s.rowid DESC LIMIT ?6 OFFSET ?7";

        std::lock_guard<std::mutex> lock(m_mutex);
        lines.clear();
        more = false;
        return QuerySqliteRows(
            m_db.get(), sql.c_str(),
            [&](sqlite3_stmt* s) {
                BindText(s, 1, filter.component);
                BindText(s, 2, filter.status);
                BindText(s, 3, filter.fromDate);
                BindText(s, 4, filter.toDate);
                BindText(s, 5, match);
                sqlite3_bind_int64(s, 6, count + 1);
                sqlite3_bind_int64(s, 7, offset);
                BindText(s, 8, filter.version);
            },
            [&](sqlite3_stmt* s) {
                if (static_cast<int64_t>(lines.size()) == count) {
                    more = true;
                    return;
                }
                ReportLine line;
                line.id = sqlite3_column_int64(s, 0);
                line.kind = sqlite3_column_int(s, 1) != 0 ? ReportKind::Crash : ReportKind::Bug;
                line.receivedUtc = ColumnText(s, 2);
                line.component = ColumnText(s, 3);
                line.email = ColumnText(s, 4);
                line.whatHappened = ColumnText(s, 5);
                line.status = ColumnText(s, 6);
                line.version = ColumnText(s, 7);
                lines.push_back(line);
            },
            error, "cannot list the reports");
    }

    bool CountReportsPerDay(const std::string& fromDate, std::vector<DayCount>& counts, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        counts.clear();
        return QuerySqliteRows(
            m_db.get(),
            "SELECT substr(received_utc, 1, 10), component, count(*) FROM admin_reports"
            " WHERE received_utc >= ?1 GROUP BY 1, 2 ORDER BY 1, 2",
            [&](sqlite3_stmt* s) { BindText(s, 1, fromDate); },
            [&](sqlite3_stmt* s) {
                counts.push_back(DayCount{ColumnText(s, 0), ColumnText(s, 1), sqlite3_column_int64(s, 2)});
            },
            error, "cannot count the reports");
    }

    bool CountStatuses(std::vector<StatusCount>& counts, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        counts.clear();
        return QuerySqliteRows(
            m_db.get(), "SELECT status, count(*) FROM admin_reports GROUP BY status", [](sqlite3_stmt*) {},
            [&](sqlite3_stmt* s) { counts.push_back(StatusCount{ColumnText(s, 0), sqlite3_column_int64(s, 1)}); },
            error, "cannot count the statuses");
    }

private:
    // Adds each report (indexed ones keep their line) in one transaction.
    bool IndexReports(const std::vector<IndexedReport>& batch, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Lines are made again from the reports at every start, so their
        // commit need not wait for the disk: it would hold the database's
        // one write lock through a sync while uploads wait to commit.
        SyncCommits sync(m_db.get(), "NORMAL");
        sqlite3* db = m_db.get();
        return RunSqliteTransaction(
            db,
            [&]() {
                SqliteStatement line = PrepareSqlite(
                    db,
                    "INSERT OR IGNORE INTO admin_reports (id, kind, received_utc, component, email, what, version)"
                    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                    error);
                // Not there yet: also a report whose line outlived a search
                // index made again.
                SqliteStatement search = PrepareSqlite(
                    db,
                    "INSERT INTO admin_search (rowid, email, descriptions) SELECT ?1, ?2, ?3"
                    " WHERE NOT EXISTS (SELECT 1 FROM admin_search WHERE rowid = ?1)",
                    error);
                if (!line || !search)
                    return false;
                for (const IndexedReport& report : batch) {
                    sqlite3_bind_int64(line.get(), 1, report.id);
                    sqlite3_bind_int(line.get(), 2, report.kind == ReportKind::Crash ? 1 : 0);
                    BindText(line.get(), 3, report.receivedUtc);
                    BindText(line.get(), 4, report.component);
                    BindText(line.get(), 5, report.email);
                    BindText(line.get(), 6, report.whatHappened);
                    BindText(line.get(), 7, report.version);
                    sqlite3_bind_int64(search.get(), 1, report.id);
                    BindText(search.get(), 2, report.email);
                    BindText(search.get(), 3, report.searchText);
                    if (sqlite3_step(line.get()) != SQLITE_DONE || sqlite3_step(search.get()) != SQLITE_DONE) {
                        error = DescribeSqliteError(db, "cannot index report " + std::to_string(report.id));
                        return false;
                    }
                    sqlite3_reset(line.get());
                    sqlite3_reset(search.get());
                }
                return true;
            },
            error);
    }

    bool FindMissingReports(bool everyReport, std::vector<std::pair<int64_t, ReportKind>>& missing,
                            std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const char* sql =
            everyReport
                ? "SELECT id, 0 FROM reports WHERE id NOT IN (SELECT id FROM admin_reports)"
                  " OR id NOT IN (SELECT rowid FROM admin_search)"
                  " UNION ALL SELECT id, 1 FROM crash_reports WHERE id NOT IN (SELECT id FROM admin_reports)"
                  " OR id NOT IN (SELECT rowid FROM admin_search) ORDER BY 1"
                : "SELECT id, 0 FROM reports WHERE id > (SELECT coalesce(max(id), 0) FROM admin_reports)"
                  " UNION ALL SELECT id, 1 FROM crash_reports"
                  " WHERE id > (SELECT coalesce(max(id), 0) FROM admin_reports) ORDER BY 1";
        return QuerySqliteRows(
            m_db.get(), sql, [](sqlite3_stmt*) {},
            [&](sqlite3_stmt* s) {
                missing.push_back(std::make_pair(sqlite3_column_int64(s, 0),
                                                 sqlite3_column_int(s, 1) != 0 ? ReportKind::Crash : ReportKind::Bug));
            },
            error, "cannot find the reports to index");
    }

    SqliteDatabase m_db;
    std::mutex m_mutex;  // one statement at a time on the connection
};

}  // namespace

std::unique_ptr<AdminStore> OpenSqliteAdminStore(const std::string& dataDir, std::string& error)
{
    // The report tables first, made or brought up to date by their own
    // store: the triggers name them. Kept open while the tables are made,
    // to read the reports of lines an older server indexed.
    std::unique_ptr<ReportStore> reports = OpenSqliteReportStore(dataDir, true, error);
    if (!reports)
        return nullptr;
    SqliteDatabase db = OpenSqliteReportsFile(dataDir, error);
    if (!db)
        return nullptr;
    sqlite3* c = db.get();
    const bool made = RunSqliteTransaction(
        c,
        [&]() {
            SqliteStatement contentless = PrepareSqlite(c, kFindContentlessSearch, error);
            const bool remake = contentless && sqlite3_step(contentless.get()) == SQLITE_ROW &&
                                sqlite3_column_int(contentless.get(), 0) == 1;
            contentless.reset();
            return (!remake || ExecuteSqlite(c, "DROP TABLE admin_search", error)) &&
                   ExecuteSqlite(c, kCreateAdminSchema, error) && AddVersionToLines(c, *reports, error) &&
                   ExecuteSqlite(c, kIndexVersions, error);
        },
        error);
    if (!made)
        return nullptr;
    return std::unique_ptr<AdminStore>(new SqliteAdminStore(std::move(db)));
}
