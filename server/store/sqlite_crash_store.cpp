// The crash tables in reports.db, beside the crash reports they describe.
#include "server/store/sqlite_crash_store.h"

#include <mutex>
#include <utility>

#include "server/store/sqlite_alert_store.h"
#include "server/store/sqlite_connection.h"
#include "server/store/sqlite_handles.h"
#include "server/store/sqlite_report_store.h"

namespace {

// Counts per group, per group and day, and per group and version are kept
// as analyses come and go, so that the list of top crashes reads a few
// rows per group instead of counting reports. Removing an analysis (by
// hand, or with its report through the trigger) takes it off the counts.
const char kCreateCrashSchema[] =
    "CREATE TABLE IF NOT EXISTS crash_binaries ("
    " module TEXT NOT NULL, timestamp INTEGER NOT NULL, image_size INTEGER NOT NULL, file_name TEXT NOT NULL,"
    " size INTEGER NOT NULL, added_utc TEXT NOT NULL, content BLOB NOT NULL,"
    " PRIMARY KEY (module, timestamp, image_size));"
    "CREATE TABLE IF NOT EXISTS crash_groups ("
    " id INTEGER PRIMARY KEY, signature TEXT NOT NULL UNIQUE, count INTEGER NOT NULL DEFAULT 0,"
    " first_seen TEXT NOT NULL, last_seen TEXT NOT NULL, status TEXT NOT NULL DEFAULT 'new',"
    " fixed_version TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX IF NOT EXISTS crash_groups_by_count ON crash_groups (count);"
    "CREATE TABLE IF NOT EXISTS crash_analyses ("
    " report_id INTEGER PRIMARY KEY, group_id INTEGER NOT NULL, received_utc TEXT NOT NULL,"
    " version TEXT NOT NULL, reason TEXT NOT NULL, text TEXT NOT NULL, modules TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS crash_analyses_by_group ON crash_analyses (group_id, report_id);"
    "CREATE INDEX IF NOT EXISTS crash_analyses_by_version ON crash_analyses (version, received_utc, group_id);"
    "CREATE TABLE IF NOT EXISTS crash_modules ("
    " module_key TEXT NOT NULL, report_id INTEGER NOT NULL, PRIMARY KEY (module_key, report_id)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS crash_group_days ("
    " group_id INTEGER NOT NULL, day TEXT NOT NULL, count INTEGER NOT NULL, PRIMARY KEY (group_id, day))"
    " WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS crash_group_days_by_day ON crash_group_days (day, group_id, count);"
    "CREATE TABLE IF NOT EXISTS crash_group_versions ("
    " group_id INTEGER NOT NULL, version TEXT NOT NULL, count INTEGER NOT NULL, PRIMARY KEY (group_id, version))"
    " WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS crash_group_versions_by_version ON crash_group_versions (version, count);"
    "CREATE TRIGGER IF NOT EXISTS crash_forget_analysis AFTER DELETE ON crash_analyses BEGIN"
    " UPDATE crash_groups SET count = count - 1 WHERE id = old.group_id;"
    " UPDATE crash_group_days SET count = count - 1"
    "  WHERE group_id = old.group_id AND day = substr(old.received_utc, 1, 10);"
    " UPDATE crash_group_versions SET count = count - 1 WHERE group_id = old.group_id AND version = old.version;"
    " DELETE FROM crash_modules WHERE report_id = old.report_id; END;"
    "CREATE TRIGGER IF NOT EXISTS crash_forget_report AFTER DELETE ON crash_reports BEGIN"
    " DELETE FROM crash_analyses WHERE report_id = old.id; END;";

void BindBlob(sqlite3_stmt* statement, int index, const std::string& bytes)
{
    sqlite3_bind_blob64(statement, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
}

class SqliteCrashStore : public CrashStore
{
public:
    explicit SqliteCrashStore(SqliteDatabase db) : m_db(std::move(db)) {}

    bool SaveAnalyses(const std::vector<CrashAnalysis>& analyses, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return RunSqliteTransaction(
            m_db.get(),
            [&]() {
                for (const CrashAnalysis& analysis : analyses) {
                    if (!SaveInTransaction(analysis, error))
                        return false;
                }
                return true;
            },
            error);
    }

    LoadResult LoadAnalysis(int64_t reportId, CrashAnalysis& analysis, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bool found = false;
        const bool read = QuerySqliteRows(
            m_db.get(),
            "SELECT a.received_utc, a.version, g.signature, a.reason, a.text, a.modules, a.group_id"
            " FROM crash_analyses a JOIN crash_groups g ON g.id = a.group_id WHERE a.report_id = ?1",
            [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, reportId); },
            [&](sqlite3_stmt* s) {
                found = true;
                analysis.reportId = reportId;
                analysis.receivedUtc = ColumnText(s, 0);
                analysis.version = ColumnText(s, 1);
                analysis.signature = ColumnText(s, 2);
                analysis.reason = ColumnText(s, 3);
                analysis.text = ColumnText(s, 4);
                analysis.modules = SplitModuleKeys(ColumnText(s, 5));
                analysis.groupId = sqlite3_column_int64(s, 6);
            },
            error);
        return !read ? LoadResult::Failed : found ? LoadResult::Found : LoadResult::NotFound;
    }

    bool ListTopGroups(const GroupQuery& query, std::vector<CrashGroup>& groups, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sqlite3* db = m_db.get();
        groups.clear();
        const std::string since = query.days > 0 ? ShiftUtcDay(query.todayUtc, -(query.days - 1)) : std::string();
        const char* sql;
        if (query.days == 0 && query.version.empty())
            sql = "SELECT id, count FROM crash_groups WHERE count > 0 ORDER BY count DESC, id DESC LIMIT ?3";
        else if (query.version.empty())
            sql = "SELECT group_id, sum(count) AS n FROM crash_group_days WHERE day >= ?1"
                  " GROUP BY group_id HAVING n > 0 ORDER BY n DESC, group_id DESC LIMIT ?3";
        else if (query.days == 0)
            sql = "SELECT group_id, count FROM crash_group_versions WHERE version = ?2 AND count > 0"
                  " ORDER BY count DESC, group_id DESC LIMIT ?3";
        else
            // Named: with statistics SQLite would rather walk the whole table
            // in group order than the period's rows of one version.
            sql = "SELECT group_id, count(*) AS n FROM crash_analyses INDEXED BY crash_analyses_by_version"
                  " WHERE version = ?2 AND received_utc >= ?1 GROUP BY group_id ORDER BY n DESC, group_id DESC LIMIT ?3";
        if (!QuerySqliteRows(
                db, sql,
                [&](sqlite3_stmt* s) {
                    BindText(s, 1, since);
                    BindText(s, 2, query.version);
                    sqlite3_bind_int64(s, 3, query.limit);
                },
                [&](sqlite3_stmt* s) {
                    CrashGroup group;
                    group.id = sqlite3_column_int64(s, 0);
                    group.periodCount = sqlite3_column_int64(s, 1);
                    groups.push_back(group);
                },
                error))
            return false;
        if (groups.empty())
            return true;
        // The few groups shown, completed row by row.
        const std::string ids = ListIds(groups);
        std::string previousFrom;
        if (query.days > 0)
            previousFrom = ShiftUtcDay(query.todayUtc, -(2 * query.days - 1));
        for (CrashGroup& group : groups) {
            if (!ReadGroupRow(db, group, error))
                return false;
        }
        if (query.days > 0 &&
            !QuerySqliteRows(
                db,
                ("SELECT group_id, sum(count) FROM crash_group_days WHERE day >= ?1 AND day < ?2 AND group_id IN (" +
                 ids + ") GROUP BY group_id")
                    .c_str(),
                [&](sqlite3_stmt* s) {
                    BindText(s, 1, previousFrom);
                    BindText(s, 2, since);
                },
                [&](sqlite3_stmt* s) {
                    if (CrashGroup* group = FindGroup(groups, sqlite3_column_int64(s, 0)))
                        group->previousCount = sqlite3_column_int64(s, 1);
                },
                error))
            return false;
        return QuerySqliteRows(
            db,
            ("SELECT group_id, version, count FROM crash_group_versions WHERE count > 0 AND group_id IN (" + ids +
             ") ORDER BY count DESC, version DESC")
                .c_str(),
            [](sqlite3_stmt*) {},
            [&](sqlite3_stmt* s) {
                if (CrashGroup* group = FindGroup(groups, sqlite3_column_int64(s, 0)))
                    group->versions.emplace_back(ColumnText(s, 1), sqlite3_column_int64(s, 2));
            },
            error);
    }

    LoadResult LoadGroup(int64_t id, CrashGroup& group, std::vector<std::pair<std::string, int64_t>>& days,
                         std::vector<int64_t>& reportIds, int64_t reportLimit, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sqlite3* db = m_db.get();
        group = CrashGroup();
        group.id = id;
        if (!ReadGroupRow(db, group, error))
            return LoadResult::Failed;
        if (group.signature.empty())
            return LoadResult::NotFound;
        group.periodCount = group.count;
        days.clear();
        reportIds.clear();
        const bool read =
            QuerySqliteRows(
                db, "SELECT day, count FROM crash_group_days WHERE group_id = ?1 AND count > 0 ORDER BY day",
                [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, id); },
                [&](sqlite3_stmt* s) { days.emplace_back(ColumnText(s, 0), sqlite3_column_int64(s, 1)); }, error) &&
            QuerySqliteRows(
                db,
                "SELECT version, count FROM crash_group_versions WHERE group_id = ?1 AND count > 0"
                " ORDER BY count DESC, version DESC",
                [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, id); },
                [&](sqlite3_stmt* s) { group.versions.emplace_back(ColumnText(s, 0), sqlite3_column_int64(s, 1)); },
                error) &&
            QuerySqliteRows(
                db, "SELECT report_id FROM crash_analyses WHERE group_id = ?1 ORDER BY report_id DESC LIMIT ?2",
                [&](sqlite3_stmt* s) {
                    sqlite3_bind_int64(s, 1, id);
                    sqlite3_bind_int64(s, 2, reportLimit);
                },
                [&](sqlite3_stmt* s) { reportIds.push_back(sqlite3_column_int64(s, 0)); }, error);
        return read ? LoadResult::Found : LoadResult::Failed;
    }

    StoreAnswer SetGroupStatus(int64_t id, const std::string& status, const std::string& fixedVersion,
                               std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!RunSqliteStatement(
                m_db.get(), "UPDATE crash_groups SET status = ?2, fixed_version = ?3 WHERE id = ?1",
                [&](sqlite3_stmt* s) {
                    sqlite3_bind_int64(s, 1, id);
                    BindText(s, 2, status);
                    BindText(s, 3, status == "fixed" ? fixedVersion : std::string());
                },
                error))
            return StoreAnswer::Failed;
        return sqlite3_changes(m_db.get()) == 1 ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    bool AddBinary(const StoredBinary& binary, const std::string& content, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return RunSqliteStatement(
            m_db.get(),
            "INSERT OR REPLACE INTO crash_binaries (module, timestamp, image_size, file_name, size, added_utc, content)"
            " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
            [&](sqlite3_stmt* s) {
                BindText(s, 1, binary.key.module);
                sqlite3_bind_int64(s, 2, binary.key.timestamp);
                sqlite3_bind_int64(s, 3, binary.key.imageSize);
                BindText(s, 4, binary.fileName);
                sqlite3_bind_int64(s, 5, static_cast<sqlite3_int64>(content.size()));
                BindText(s, 6, binary.addedUtc);
                BindBlob(s, 7, content);
            },
            error);
    }

    LoadResult LoadBinary(const BinaryKey& key, std::string& content, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bool found = false;
        const bool read = QuerySqliteRows(
            m_db.get(), "SELECT content FROM crash_binaries WHERE module = ?1 AND timestamp = ?2 AND image_size = ?3",
            [&](sqlite3_stmt* s) {
                BindText(s, 1, key.module);
                sqlite3_bind_int64(s, 2, key.timestamp);
                sqlite3_bind_int64(s, 3, key.imageSize);
            },
            [&](sqlite3_stmt* s) {
                found = true;
                const void* bytes = sqlite3_column_blob(s, 0);
                content.assign(static_cast<const char*>(bytes), static_cast<size_t>(sqlite3_column_bytes(s, 0)));
            },
            error);
        return !read ? LoadResult::Failed : found ? LoadResult::Found : LoadResult::NotFound;
    }

    bool ListBinaries(std::vector<StoredBinary>& binaries, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        binaries.clear();
        return QuerySqliteRows(
            m_db.get(),
            "SELECT module, timestamp, image_size, file_name, size, added_utc FROM crash_binaries"
            " ORDER BY module, timestamp",
            [](sqlite3_stmt*) {},
            [&](sqlite3_stmt* s) {
                StoredBinary binary;
                binary.key.module = ColumnText(s, 0);
                binary.key.timestamp = static_cast<uint32_t>(sqlite3_column_int64(s, 1));
                binary.key.imageSize = static_cast<uint32_t>(sqlite3_column_int64(s, 2));
                binary.fileName = ColumnText(s, 3);
                binary.size = static_cast<uint64_t>(sqlite3_column_int64(s, 4));
                binary.addedUtc = ColumnText(s, 5);
                binaries.push_back(binary);
            },
            error);
    }

    bool FindReportsWithModule(const BinaryKey& key, std::vector<int64_t>& ids, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ids.clear();
        return QuerySqliteRows(
            m_db.get(), "SELECT report_id FROM crash_modules WHERE module_key = ?1 ORDER BY report_id",
            [&](sqlite3_stmt* s) { BindText(s, 1, FormatBinaryKey(key)); },
            [&](sqlite3_stmt* s) { ids.push_back(sqlite3_column_int64(s, 0)); }, error);
    }

    bool FindCrashReports(bool everyReport, std::vector<int64_t>& ids, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ids.clear();
        return QuerySqliteRows(
            m_db.get(),
            everyReport ? "SELECT id FROM crash_reports ORDER BY id"
                        : "SELECT id FROM crash_reports WHERE id NOT IN (SELECT report_id FROM crash_analyses)"
                          " ORDER BY id",
            [](sqlite3_stmt*) {}, [&](sqlite3_stmt* s) { ids.push_back(sqlite3_column_int64(s, 0)); }, error);
    }

private:
    // The group's own row; leaves signature empty when there is none.
    static bool ReadGroupRow(sqlite3* db, CrashGroup& group, std::string& error)
    {
        return QuerySqliteRows(
            db, "SELECT signature, count, first_seen, last_seen, status, fixed_version FROM crash_groups WHERE id = ?1",
            [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, group.id); },
            [&](sqlite3_stmt* s) {
                group.signature = ColumnText(s, 0);
                group.count = sqlite3_column_int64(s, 1);
                group.firstSeenUtc = ColumnText(s, 2);
                group.lastSeenUtc = ColumnText(s, 3);
                group.status = ColumnText(s, 4);
                group.fixedVersion = ColumnText(s, 5);
            },
            error);
    }

    bool SaveInTransaction(const CrashAnalysis& a, std::string& error)
    {
        sqlite3* db = m_db.get();
        SqliteStatementCache& cached = m_statements;
        bool reportExists = false;
        if (!QuerySqliteRows(
                cached, "SELECT 1 FROM crash_reports WHERE id = ?1",
                [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, a.reportId); },
                [&](sqlite3_stmt*) { reportExists = true; }, error) ||
            !RunSqliteStatement(
                cached, "DELETE FROM crash_analyses WHERE report_id = ?1",
                [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, a.reportId); }, error))
            return false;
        if (!reportExists)
            return true;
        CrashAlertFacts alert;
        alert.firstAnalysis = sqlite3_changes(db) == 0;
        int64_t groupId = 0;
        std::string status;
        std::string fixedVersion;
        if (!RunSqliteStatement(
                cached,
                "INSERT INTO crash_groups (signature, first_seen, last_seen) VALUES (?1, ?2, ?2)"
                " ON CONFLICT (signature) DO NOTHING",
                [&](sqlite3_stmt* s) {
                    BindText(s, 1, a.signature);
                    BindText(s, 2, a.receivedUtc);
                },
                error))
            return false;
        alert.newGroup = sqlite3_changes(db) == 1;
        if (!QuerySqliteRows(
                cached, "SELECT id, status, fixed_version, count, first_seen FROM crash_groups WHERE signature = ?1",
                [&](sqlite3_stmt* s) { BindText(s, 1, a.signature); },
                [&](sqlite3_stmt* s) {
                    groupId = sqlite3_column_int64(s, 0);
                    status = ColumnText(s, 1);
                    fixedVersion = ColumnText(s, 2);
                    alert.groupCount = sqlite3_column_int64(s, 3) + 1;
                    alert.firstSeenUtc = ColumnText(s, 4);
                },
                error))
            return false;
        alert.regression = IsRegression(status, fixedVersion, a.version);
        if (alert.regression)
            status = "regression";
        FillAlertFacts(a, groupId, alert);
        const std::string day = a.receivedUtc.substr(0, 10);
        return RunSqliteStatement(
                   cached,
                   "UPDATE crash_groups SET count = count + 1, status = ?2,"
                   " first_seen = min(first_seen, ?3), last_seen = max(last_seen, ?3) WHERE id = ?1",
                   [&](sqlite3_stmt* s) {
                       sqlite3_bind_int64(s, 1, groupId);
                       BindText(s, 2, status);
                       BindText(s, 3, a.receivedUtc);
                   },
                   error) &&
               RunSqliteStatement(
                   cached,
                   "INSERT INTO crash_analyses (report_id, group_id, received_utc, version, reason, text, modules)"
                   " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                   [&](sqlite3_stmt* s) {
                       sqlite3_bind_int64(s, 1, a.reportId);
                       sqlite3_bind_int64(s, 2, groupId);
                       BindText(s, 3, a.receivedUtc);
                       BindText(s, 4, a.version);
                       BindText(s, 5, a.reason);
                       BindText(s, 6, a.text);
                       BindText(s, 7, JoinModuleKeys(a.modules));
                   },
                   error) &&
               RunSqliteStatement(
                   cached,
                   "INSERT INTO crash_group_days (group_id, day, count) VALUES (?1, ?2, 1)"
                   " ON CONFLICT (group_id, day) DO UPDATE SET count = count + 1",
                   [&](sqlite3_stmt* s) {
                       sqlite3_bind_int64(s, 1, groupId);
                       BindText(s, 2, day);
                   },
                   error) &&
               RunSqliteStatement(
                   cached,
                   "INSERT INTO crash_group_versions (group_id, version, count) VALUES (?1, ?2, 1)"
                   " ON CONFLICT (group_id, version) DO UPDATE SET count = count + 1",
                   [&](sqlite3_stmt* s) {
                       sqlite3_bind_int64(s, 1, groupId);
                       BindText(s, 2, a.version);
                   },
                   error) &&
               SaveModules(a, error) && QueueSqliteCrashAlert(db, alert, error);
    }

    bool SaveModules(const CrashAnalysis& a, std::string& error)
    {
        for (const std::string& module : a.modules) {
            if (!RunSqliteStatement(
                    m_statements, "INSERT OR IGNORE INTO crash_modules (module_key, report_id) VALUES (?1, ?2)",
                    [&](sqlite3_stmt* s) {
                        BindText(s, 1, module);
                        sqlite3_bind_int64(s, 2, a.reportId);
                    },
                    error, "cannot store the crash's modules"))
                return false;
        }
        return true;
    }

    SqliteDatabase m_db;
    SqliteStatementCache m_statements{m_db.get()};  // after m_db: closed before it
    std::mutex m_mutex;
};

}  // namespace

std::unique_ptr<CrashStore> OpenSqliteCrashStore(const std::string& dataDir, std::string& error)
{
    // The report tables first, made or brought up to date by their own
    // store: the trigger names them.
    if (!OpenSqliteReportStore(dataDir, true, error))
        return nullptr;
    SqliteDatabase db = OpenSqliteReportsFile(dataDir, error);
    if (!db)
        return nullptr;
    // Its commits need not wait for the disk: an analysis lost to a power
    // cut, with its counts (one transaction), is made again at the next
    // start from its report.
    if (!ExecuteSqlite(db.get(), "PRAGMA synchronous = NORMAL", error) ||
        !RunSqliteTransaction(
            db.get(),
            [&]() {
                return ExecuteSqlite(db.get(), kCreateCrashSchema, error) && CreateSqliteAlertTables(db.get(), error);
            },
            error))
        return nullptr;
    return std::unique_ptr<CrashStore>(new SqliteCrashStore(std::move(db)));
}
