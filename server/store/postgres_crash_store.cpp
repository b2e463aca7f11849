// The crash tables in the PostgreSQL database of the reports, shared by
// every server that uses it.
#include "server/store/postgres_crash_store.h"

#include <utility>

#include "server/store/postgres_alert_store.h"
#include "server/store/postgres_connection.h"
#include "server/store/postgres_report_store.h"

namespace {

// Taken while the tables are made: servers starting together make them one
// at a time.
const char kLockSchema[] = "SELECT pg_advisory_xact_lock(7336941655551152)";

// Texts from a dump or a reporter are bytea: they need not be valid UTF-8.
// The counts are kept as on SQLite; a group's row lock orders the saves
// of one group, and an upsert's increment is never lost.
const char kCreateCrashSchema[] =
    "CREATE TABLE IF NOT EXISTS crash_binaries ("
    " module BYTEA NOT NULL, timestamp BIGINT NOT NULL, image_size BIGINT NOT NULL, file_name BYTEA NOT NULL,"
    " size BIGINT NOT NULL, added_utc TEXT NOT NULL, content BYTEA NOT NULL,"
    " PRIMARY KEY (module, timestamp, image_size));"
    "CREATE TABLE IF NOT EXISTS crash_groups ("
    " id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, signature BYTEA NOT NULL UNIQUE,"
    " count BIGINT NOT NULL DEFAULT 0, first_seen TEXT COLLATE \"C\" NOT NULL, last_seen TEXT COLLATE \"C\" NOT NULL,"
    " status TEXT NOT NULL DEFAULT 'new', fixed_version BYTEA NOT NULL DEFAULT '\\x'::bytea);"
    "CREATE INDEX IF NOT EXISTS crash_groups_by_count ON crash_groups (count);"
    "CREATE TABLE IF NOT EXISTS crash_analyses ("
    " report_id BIGINT PRIMARY KEY, group_id BIGINT NOT NULL, received_utc TEXT COLLATE \"C\" NOT NULL,"
    " version BYTEA NOT NULL, reason BYTEA NOT NULL, text BYTEA NOT NULL, modules BYTEA NOT NULL);"
    "CREATE INDEX IF NOT EXISTS crash_analyses_by_group ON crash_analyses (group_id, report_id);"
    "CREATE INDEX IF NOT EXISTS crash_analyses_by_version ON crash_analyses (version, received_utc, group_id);"
    "CREATE TABLE IF NOT EXISTS crash_modules ("
    " module_key BYTEA NOT NULL, report_id BIGINT NOT NULL, PRIMARY KEY (module_key, report_id));"
    "CREATE INDEX IF NOT EXISTS crash_modules_by_report ON crash_modules (report_id);"
    "CREATE TABLE IF NOT EXISTS crash_group_days ("
    " group_id BIGINT NOT NULL, day TEXT COLLATE \"C\" NOT NULL, count BIGINT NOT NULL, PRIMARY KEY (group_id, day));"
    "CREATE INDEX IF NOT EXISTS crash_group_days_by_day ON crash_group_days (day, group_id, count);"
    "CREATE TABLE IF NOT EXISTS crash_group_versions ("
    " group_id BIGINT NOT NULL, version BYTEA NOT NULL, count BIGINT NOT NULL, PRIMARY KEY (group_id, version));"
    "CREATE INDEX IF NOT EXISTS crash_group_versions_by_version ON crash_group_versions (version, count);"
    "CREATE OR REPLACE FUNCTION crash_forget_analysis() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " UPDATE crash_groups SET count = count - 1 WHERE id = OLD.group_id;"
    " UPDATE crash_group_days SET count = count - 1"
    "  WHERE group_id = OLD.group_id AND day = substr(OLD.received_utc, 1, 10);"
    " UPDATE crash_group_versions SET count = count - 1 WHERE group_id = OLD.group_id AND version = OLD.version;"
    " DELETE FROM crash_modules WHERE report_id = OLD.report_id;"
    " RETURN OLD; END $$;"
    "CREATE OR REPLACE TRIGGER crash_forget_analysis AFTER DELETE ON crash_analyses"
    " FOR EACH ROW EXECUTE FUNCTION crash_forget_analysis();"
    "CREATE OR REPLACE FUNCTION crash_forget_reports() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " DELETE FROM crash_analyses WHERE report_id IN (SELECT id FROM gone);"
    " RETURN NULL; END $$;"
    "CREATE OR REPLACE TRIGGER crash_forget_reports AFTER DELETE ON crash_reports"
    " REFERENCING OLD TABLE AS gone FOR EACH STATEMENT EXECUTE FUNCTION crash_forget_reports();";

class PostgresCrashStore : public CrashStore
{
public:
    PostgresCrashStore(const std::string& url, PostgresConnection first) : m_pool(url, std::move(first)) {}

    // One transaction each: row locks keep other servers' saves going.
    bool SaveAnalyses(const std::vector<CrashAnalysis>& analyses, std::string& error) override
    {
        PostgresConnection connection = m_pool.Take(error);
        if (!connection)
            return false;
        bool done = true;
        for (size_t i = 0; done && i < analyses.size(); ++i) {
            done = ExecutePostgres(connection.get(), "BEGIN", error) &&
                   SaveInTransaction(connection.get(), analyses[i], error) &&
                   ExecutePostgres(connection.get(), "COMMIT", error);
            if (!done) {
                std::string ignored;
                ExecutePostgres(connection.get(), "ROLLBACK", ignored);
                error = "cannot store the crash's analysis: " + error;
            }
        }
        m_pool.GiveBack(std::move(connection));
        return done;
    }

    LoadResult LoadAnalysis(int64_t reportId, CrashAnalysis& analysis, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT a.received_utc, a.version, g.signature, a.reason, a.text, a.modules, a.group_id"
                 " FROM crash_analyses a JOIN crash_groups g ON g.id = a.group_id WHERE a.report_id = $1::bigint",
                 PostgresParams().AddInt64(reportId), result, error))
            return LoadResult::Failed;
        if (PQntuples(result.get()) == 0)
            return LoadResult::NotFound;
        const PGresult* r = result.get();
        analysis.reportId = reportId;
        analysis.receivedUtc = GetPostgresBytes(r, 0, 0);
        analysis.version = GetPostgresBytes(r, 0, 1);
        analysis.signature = GetPostgresBytes(r, 0, 2);
        analysis.reason = GetPostgresBytes(r, 0, 3);
        analysis.text = GetPostgresBytes(r, 0, 4);
        analysis.modules = SplitModuleKeys(GetPostgresBytes(r, 0, 5));
        analysis.groupId = GetPostgresInt64(r, 0, 6);
        return LoadResult::Found;
    }

    bool ListTopGroups(const GroupQuery& query, std::vector<CrashGroup>& groups, std::string& error) override
    {
        groups.clear();
        const std::string since = query.days > 0 ? ShiftUtcDay(query.todayUtc, -(query.days - 1)) : std::string();
        const char* sql;
        if (query.days == 0 && query.version.empty())
            sql = "SELECT id, count FROM crash_groups WHERE count > 0 AND $1::text IS NOT NULL"
                  " AND $2::bytea IS NOT NULL ORDER BY count DESC, id DESC LIMIT $3::bigint";
        else if (query.version.empty())
            sql = "SELECT group_id, sum(count)::bigint AS n FROM crash_group_days WHERE day >= $1::text"
                  " AND $2::bytea IS NOT NULL GROUP BY group_id HAVING sum(count) > 0"
                  " ORDER BY n DESC, group_id DESC LIMIT $3::bigint";
        else if (query.days == 0)
            sql = "SELECT group_id, count FROM crash_group_versions WHERE version = $2::bytea AND count > 0"
                  " AND $1::text IS NOT NULL ORDER BY count DESC, group_id DESC LIMIT $3::bigint";
        else
            sql = "SELECT group_id, count(*) AS n FROM crash_analyses WHERE version = $2::bytea"
                  " AND received_utc >= $1::text GROUP BY group_id ORDER BY n DESC, group_id DESC LIMIT $3::bigint";
        PostgresResult result;
        if (!m_pool.Run(sql, PostgresParams().AddBytes(since).AddBytes(query.version).AddInt64(query.limit), result, error))
            return false;
        for (int i = 0; i < PQntuples(result.get()); ++i) {
            CrashGroup group;
            group.id = GetPostgresInt64(result.get(), i, 0);
            group.periodCount = GetPostgresInt64(result.get(), i, 1);
            groups.push_back(group);
        }
        if (groups.empty())
            return true;
        const std::string ids = ListIds(groups);
        const std::string previousFrom = query.days > 0 ? ShiftUtcDay(query.todayUtc, -(2 * query.days - 1)) : "";
        PostgresResult rows;
        PostgresResult previous;
        PostgresResult versions;
        if (!m_pool.Run(("SELECT id, signature, count, first_seen, last_seen, status, fixed_version FROM crash_groups"
                  " WHERE id IN (" + ids + ")")
                     .c_str(),
                 PostgresParams(), rows, error) ||
            !m_pool.Run(("SELECT group_id, sum(count)::bigint FROM crash_group_days WHERE day >= $1::text AND day < $2::text"
                  " AND group_id IN (" + ids + ") GROUP BY group_id")
                     .c_str(),
                 PostgresParams().AddBytes(previousFrom).AddBytes(since), previous, error) ||
            !m_pool.Run(("SELECT group_id, version, count FROM crash_group_versions WHERE count > 0 AND group_id IN (" + ids +
                  ") ORDER BY count DESC, version DESC")
                     .c_str(),
                 PostgresParams(), versions, error))
            return false;
        for (int i = 0; i < PQntuples(rows.get()); ++i) {
            CrashGroup* group = FindGroup(groups, GetPostgresInt64(rows.get(), i, 0));
            if (group != nullptr)
                ReadGroupRow(rows.get(), i, 1, *group);
        }
        for (int i = 0; query.days > 0 && i < PQntuples(previous.get()); ++i) {
            CrashGroup* group = FindGroup(groups, GetPostgresInt64(previous.get(), i, 0));
            if (group != nullptr)
                group->previousCount = GetPostgresInt64(previous.get(), i, 1);
        }
        for (int i = 0; i < PQntuples(versions.get()); ++i) {
            CrashGroup* group = FindGroup(groups, GetPostgresInt64(versions.get(), i, 0));
            if (group != nullptr)
                group->versions.emplace_back(GetPostgresBytes(versions.get(), i, 1),
                                             GetPostgresInt64(versions.get(), i, 2));
        }
        return true;
    }

    LoadResult LoadGroup(int64_t id, CrashGroup& group, std::vector<std::pair<std::string, int64_t>>& days,
                         std::vector<int64_t>& reportIds, int64_t reportLimit, std::string& error) override
    {
        PostgresResult row;
        PostgresResult dayRows;
        PostgresResult versions;
        PostgresResult reports;
        const PostgresParams byId = PostgresParams().AddInt64(id);
        if (!m_pool.Run("SELECT signature, count, first_seen, last_seen, status, fixed_version FROM crash_groups"
                 " WHERE id = $1::bigint",
                 byId, row, error))
            return LoadResult::Failed;
        if (PQntuples(row.get()) == 0)
            return LoadResult::NotFound;
        group = CrashGroup();
        group.id = id;
        ReadGroupRow(row.get(), 0, 0, group);
        group.periodCount = group.count;
        if (!m_pool.Run("SELECT day, count FROM crash_group_days WHERE group_id = $1::bigint AND count > 0 ORDER BY day", byId,
                 dayRows, error) ||
            !m_pool.Run("SELECT version, count FROM crash_group_versions WHERE group_id = $1::bigint AND count > 0"
                 " ORDER BY count DESC, version DESC",
                 byId, versions, error) ||
            !m_pool.Run("SELECT report_id FROM crash_analyses WHERE group_id = $1::bigint ORDER BY report_id DESC"
                 " LIMIT $2::bigint",
                 PostgresParams().AddInt64(id).AddInt64(reportLimit), reports, error))
            return LoadResult::Failed;
        days.clear();
        reportIds.clear();
        for (int i = 0; i < PQntuples(dayRows.get()); ++i)
            days.emplace_back(GetPostgresBytes(dayRows.get(), i, 0), GetPostgresInt64(dayRows.get(), i, 1));
        for (int i = 0; i < PQntuples(versions.get()); ++i)
            group.versions.emplace_back(GetPostgresBytes(versions.get(), i, 0), GetPostgresInt64(versions.get(), i, 1));
        for (int i = 0; i < PQntuples(reports.get()); ++i)
            reportIds.push_back(GetPostgresInt64(reports.get(), i, 0));
        return LoadResult::Found;
    }

    StoreAnswer SetGroupStatus(int64_t id, const std::string& status, const std::string& fixedVersion,
                               std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("UPDATE crash_groups SET status = $2::text, fixed_version = $3::bytea WHERE id = $1::bigint",
                 PostgresParams().AddInt64(id).AddBytes(status).AddBytes(status == "fixed" ? fixedVersion : ""), result,
                 error))
            return StoreAnswer::Failed;
        return std::string(PQcmdTuples(result.get())) == "1" ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    bool AddBinary(const StoredBinary& binary, const std::string& content, std::string& error) override
    {
        PostgresResult result;
        return m_pool.Run("INSERT INTO crash_binaries (module, timestamp, image_size, file_name, size, added_utc, content)"
                   " VALUES ($1::bytea, $2::bigint, $3::bigint, $4::bytea, $5::bigint, $6::text, $7::bytea)"
                   " ON CONFLICT (module, timestamp, image_size) DO UPDATE SET file_name = excluded.file_name,"
                   " size = excluded.size, added_utc = excluded.added_utc, content = excluded.content",
                   PostgresParams()
                       .AddBytes(binary.key.module)
                       .AddInt64(binary.key.timestamp)
                       .AddInt64(binary.key.imageSize)
                       .AddBytes(binary.fileName)
                       .AddInt64(static_cast<int64_t>(content.size()))
                       .AddBytes(binary.addedUtc)
                       .AddBytes(content),
                   result, error);
    }

    LoadResult LoadBinary(const BinaryKey& key, std::string& content, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT content FROM crash_binaries WHERE module = $1::bytea AND timestamp = $2::bigint"
                 " AND image_size = $3::bigint",
                 PostgresParams().AddBytes(key.module).AddInt64(key.timestamp).AddInt64(key.imageSize), result,
                 error))
            return LoadResult::Failed;
        if (PQntuples(result.get()) == 0)
            return LoadResult::NotFound;
        content = GetPostgresBytes(result.get(), 0, 0);
        return LoadResult::Found;
    }

    bool ListBinaries(std::vector<StoredBinary>& binaries, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT module, timestamp, image_size, file_name, size, added_utc FROM crash_binaries"
                 " ORDER BY module, timestamp",
                 PostgresParams(), result, error))
            return false;
        binaries.clear();
        for (int i = 0; i < PQntuples(result.get()); ++i) {
            StoredBinary binary;
            binary.key.module = GetPostgresBytes(result.get(), i, 0);
            binary.key.timestamp = static_cast<uint32_t>(GetPostgresInt64(result.get(), i, 1));
            binary.key.imageSize = static_cast<uint32_t>(GetPostgresInt64(result.get(), i, 2));
            binary.fileName = GetPostgresBytes(result.get(), i, 3);
            binary.size = static_cast<uint64_t>(GetPostgresInt64(result.get(), i, 4));
            binary.addedUtc = GetPostgresBytes(result.get(), i, 5);
            binaries.push_back(binary);
        }
        return true;
    }

    bool FindReportsWithModule(const BinaryKey& key, std::vector<int64_t>& ids, std::string& error) override
    {
        return ReadIds("SELECT report_id FROM crash_modules WHERE module_key = $1::bytea ORDER BY report_id",
                       PostgresParams().AddBytes(FormatBinaryKey(key)), ids, error);
    }

    bool FindCrashReports(bool everyReport, std::vector<int64_t>& ids, std::string& error) override
    {
        return ReadIds(everyReport ? "SELECT id FROM crash_reports ORDER BY id"
                                   : "SELECT c.id FROM crash_reports c LEFT JOIN crash_analyses a"
                                     " ON a.report_id = c.id WHERE a.report_id IS NULL ORDER BY c.id",
                       PostgresParams(), ids, error);
    }

private:
    // signature, count, first_seen, last_seen, status, fixed_version from
    // column first on.
    static void ReadGroupRow(const PGresult* r, int row, int first, CrashGroup& group)
    {
        group.signature = GetPostgresBytes(r, row, first);
        group.count = GetPostgresInt64(r, row, first + 1);
        group.firstSeenUtc = GetPostgresBytes(r, row, first + 2);
        group.lastSeenUtc = GetPostgresBytes(r, row, first + 3);
        group.status = GetPostgresBytes(r, row, first + 4);
        group.fixedVersion = GetPostgresBytes(r, row, first + 5);
    }

    bool ReadIds(const char* sql, const PostgresParams& params, std::vector<int64_t>& ids, std::string& error)
    {
        PostgresResult result;
        if (!m_pool.Run(sql, params, result, error))
            return false;
        ids.clear();
        for (int i = 0; i < PQntuples(result.get()); ++i)
            ids.push_back(GetPostgresInt64(result.get(), i, 0));
        return true;
    }

    static bool SaveInTransaction(PGconn* c, const CrashAnalysis& a, std::string& error)
    {
        PostgresResult result;
        // The report's row lock orders two servers processing one report,
        // and keeps it from being removed until this commits.
        if (!RunPostgres(c, "SELECT 1 FROM crash_reports WHERE id = $1::bigint FOR UPDATE",
                   PostgresParams().AddInt64(a.reportId), result, error))
            return false;
        const bool reportExists = PQntuples(result.get()) == 1;
        if (!RunPostgres(c, "DELETE FROM crash_analyses WHERE report_id = $1::bigint", PostgresParams().AddInt64(a.reportId),
                   result, error))
            return false;
        if (!reportExists)
            return true;
        CrashAlertFacts alert;
        alert.firstAnalysis = std::string(PQcmdTuples(result.get())) == "0";
        PostgresResult group;
        if (!RunPostgres(c,
                   "INSERT INTO crash_groups (signature, first_seen, last_seen) VALUES ($1::bytea, $2::text, $2::text)"
                   " ON CONFLICT (signature) DO NOTHING",
                   PostgresParams().AddBytes(a.signature).AddBytes(a.receivedUtc), result, error))
            return false;
        alert.newGroup = std::string(PQcmdTuples(result.get())) == "1";
        if (!RunPostgres(c,
                   "SELECT id, status, fixed_version, count, first_seen FROM crash_groups WHERE signature = $1::bytea"
                   " FOR UPDATE",
                   PostgresParams().AddBytes(a.signature), group, error))
            return false;
        if (PQntuples(group.get()) != 1) {
            error = "the crash's group is missing";
            return false;
        }
        const int64_t groupId = GetPostgresInt64(group.get(), 0, 0);
        alert.regression =
            IsRegression(GetPostgresBytes(group.get(), 0, 1), GetPostgresBytes(group.get(), 0, 2), a.version);
        const std::string status = alert.regression ? "regression" : GetPostgresBytes(group.get(), 0, 1);
        alert.groupCount = GetPostgresInt64(group.get(), 0, 3) + 1;
        alert.firstSeenUtc = GetPostgresBytes(group.get(), 0, 4);
        FillAlertFacts(a, groupId, alert);
        if (!RunPostgres(c,
                   "UPDATE crash_groups SET count = count + 1, status = $2::text,"
                   " first_seen = LEAST(first_seen, $3::text), last_seen = GREATEST(last_seen, $3::text)"
                   " WHERE id = $1::bigint",
                   PostgresParams().AddInt64(groupId).AddBytes(status).AddBytes(a.receivedUtc), result, error) ||
            !RunPostgres(c,
                   "INSERT INTO crash_analyses (report_id, group_id, received_utc, version, reason, text, modules)"
                   " VALUES ($1::bigint, $2::bigint, $3::text, $4::bytea, $5::bytea, $6::bytea, $7::bytea)",
                   PostgresParams()
                       .AddInt64(a.reportId)
                       .AddInt64(groupId)
                       .AddBytes(a.receivedUtc)
                       .AddBytes(a.version)
                       .AddBytes(a.reason)
                       .AddBytes(a.text)
                       .AddBytes(JoinModuleKeys(a.modules)),
                   result, error) ||
            !RunPostgres(c,
                   "INSERT INTO crash_group_days (group_id, day, count) VALUES ($1::bigint, $2::text, 1)"
                   " ON CONFLICT (group_id, day) DO UPDATE SET count = crash_group_days.count + 1",
                   PostgresParams().AddInt64(groupId).AddBytes(a.receivedUtc.substr(0, 10)), result, error) ||
            !RunPostgres(c,
                   "INSERT INTO crash_group_versions (group_id, version, count) VALUES ($1::bigint, $2::bytea, 1)"
                   " ON CONFLICT (group_id, version) DO UPDATE SET count = crash_group_versions.count + 1",
                   PostgresParams().AddInt64(groupId).AddBytes(a.version), result, error))
            return false;
        for (const std::string& module : a.modules) {
            if (!RunPostgres(c,
                       "INSERT INTO crash_modules (module_key, report_id) VALUES ($1::bytea, $2::bigint)"
                       " ON CONFLICT DO NOTHING",
                       PostgresParams().AddBytes(module).AddInt64(a.reportId), result, error))
                return false;
        }
        return QueuePostgresCrashAlert(c, alert, error);
    }

    PostgresPool m_pool;
};

}  // namespace

std::unique_ptr<CrashStore> OpenPostgresCrashStore(const std::string& url, std::string& error)
{
    PostgresConnection connection = MakeTablesBesideReports(
        url, kLockSchema,
        [](PGconn* c, ReportStore&, std::string& failure) {
            // Made once: the triggers' statements lock the tables they name,
            // which would deadlock with another server already saving analyses.
            PostgresResult made;
            return RunPostgres(c, "SELECT 1 FROM pg_trigger WHERE tgname = 'crash_forget_reports'", PostgresParams(),
                               made, failure) &&
                   (PQntuples(made.get()) == 1 || ExecutePostgres(c, kCreateCrashSchema, failure)) &&
                   CreatePostgresAlertTables(c, failure);
        },
        "the crash tables", error);
    if (!connection)
        return nullptr;
    return std::unique_ptr<CrashStore>(new PostgresCrashStore(url, std::move(connection)));
}
