// The maintainers' interface's tables in the PostgreSQL database of the
// reports, shared by every server that uses it.
#include "server/store/postgres_admin_store.h"

#include <cstring>
#include <utility>

#include "server/base/utf8_text.h"
#include "server/store/postgres_connection.h"
#include "server/store/postgres_report_store.h"

namespace {

// Taken while the tables are made: servers starting together make them one
// at a time.
const char kLockSchema[] = "SELECT pg_advisory_xact_lock(7336941655551151)";

// What a sender or a maintainer chose is bytea, compared and returned byte
// for byte; words is text, built to be valid UTF-8. Times are compared as
// bytes ("C"): "2024-05-01U" must sort after every time of that day.
// Removing reports removes their lines and audit lists in the same
// statement, through the triggers, whichever process removes them.
const char kCreateAdminSchema[] =
    "CREATE TABLE IF NOT EXISTS admin_users ("
    " name BYTEA PRIMARY KEY, hash TEXT NOT NULL, created_utc TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS admin_sessions ("
    " token_digest TEXT PRIMARY KEY, user_name BYTEA NOT NULL, csrf TEXT NOT NULL, last_used BIGINT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS admin_reports ("
    " id BIGINT PRIMARY KEY, kind INTEGER NOT NULL, received_utc TEXT COLLATE \"C\" NOT NULL,"
    " component BYTEA NOT NULL, email BYTEA NOT NULL, what BYTEA NOT NULL, words TEXT NOT NULL,"
    " status TEXT COLLATE \"C\" NOT NULL DEFAULT 'new', duplicate_of BIGINT NOT NULL DEFAULT 0,"
    " note BYTEA NOT NULL DEFAULT '\\x'::bytea, version BYTEA NOT NULL DEFAULT '\\x'::bytea);"
    "CREATE INDEX IF NOT EXISTS admin_reports_by_status ON admin_reports (status, id);"
    "CREATE INDEX IF NOT EXISTS admin_reports_by_component ON admin_reports (component, id);"
    "CREATE INDEX IF NOT EXISTS admin_reports_by_time ON admin_reports (received_utc, component);"
    "CREATE TABLE IF NOT EXISTS admin_audit ("
    " seq BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, report_id BIGINT NOT NULL, at_utc TEXT NOT NULL,"
    " user_name BYTEA NOT NULL, status TEXT NOT NULL, duplicate_of BIGINT NOT NULL, note BYTEA NOT NULL);"
    "CREATE INDEX IF NOT EXISTS admin_audit_by_report ON admin_audit (report_id, seq);"
    "CREATE OR REPLACE FUNCTION admin_forget_reports() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
    " DELETE FROM admin_reports WHERE id IN (SELECT id FROM gone);"
    " DELETE FROM admin_audit WHERE report_id IN (SELECT id FROM gone);"
    " RETURN NULL; END $$;"
    "CREATE OR REPLACE TRIGGER admin_forget_bug_reports AFTER DELETE ON reports"
    " REFERENCING OLD TABLE AS gone FOR EACH STATEMENT EXECUTE FUNCTION admin_forget_reports();"
    "CREATE OR REPLACE TRIGGER admin_forget_crash_reports AFTER DELETE ON crash_reports"
    " REFERENCING OLD TABLE AS gone FOR EACH STATEMENT EXECUTE FUNCTION admin_forget_reports();";

// After the version column, which a table of an older server gains first.
const char kIndexVersions[] = "CREATE INDEX IF NOT EXISTS admin_reports_by_version ON admin_reports (version, id)";

// Reports are looked for this far below the newest indexed id too: another
// server may commit a report after a later id of its neighbour's.
const int64_t kLateReportWindow = 1000;

// A code point from Latin-1 as UTF-8.
void AppendLatin1(unsigned char c, std::string& out)
{
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
}

// Punctuation and spaces beyond ASCII part words as ASCII ones do.
bool IsWordPoint(uint32_t point)
{
    return !(point <= 0xBF || point == 0xD7 || point == 0xF7 || (point >= 0x2000 && point <= 0x206F) ||
             (point >= 0x3000 && point <= 0x303F) || point == 0xFEFF);
}

// The words of text as the search compares them, each after a space: runs
// of letters and digits, as SQLite's unicode61 tokenizer cuts them. A byte
// that is not UTF-8 reads as Latin-1, so the result always is.
std::string ListSearchWords(const std::string& text)
{
    std::string words;
    bool inWord = false;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::string character;
        bool wordCharacter = false;
        if (c < 0x80) {
            wordCharacter = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
            character.assign(1, static_cast<char>(c));
            ++i;
        } else {
            uint32_t point = 0;
            const size_t length = MeasureUtf8Sequence(text, i, &point);
            if (length > 0) {
                wordCharacter = IsWordPoint(point);
                character = text.substr(i, length);
                i += length;
            } else {
                wordCharacter = IsWordPoint(c);
                AppendLatin1(c, character);
                ++i;
            }
        }
        if (wordCharacter) {
            if (!inWord)
                words += ' ';
            words += character;
        }
        inWord = wordCharacter;
    }
    return words;
}

// One ILIKE pattern per typed word that holds a word: its words in a row,
// the last one as a prefix, each at a word's start, as the SQLite store's
// FTS5 phrases match. The words hold no LIKE wildcard or escape (only
// letters and digits), so they need no escaping. typedWords says whether
// the text held anything but spaces.
std::vector<std::string> MakeSearchPatterns(const std::string& text, bool& typedWords)
{
    std::vector<std::string> patterns;
    const std::vector<std::string> pieces = SplitSearchText(text);
    typedWords = !pieces.empty();
    for (const std::string& piece : pieces) {
        const std::string words = ListSearchWords(piece);
        if (!words.empty())
            patterns.push_back("%" + words + "%");
    }
    return patterns;
}

// The words of a report: its e-mail's, then its descriptions'; the bar
// keeps a phrase from running from one into the other.
std::string ListReportWords(const IndexedReport& report)
{
    return ListSearchWords(report.email) + " |" + ListSearchWords(report.searchText);
}

bool HasOneRowChanged(const PostgresResult& result)
{
    return std::strcmp(PQcmdTuples(result.get()), "1") == 0;
}

// An older server's lines have no version, and their texts (and words) are
// the bytes as sent rather than converted from the report's code page:
// once, when the column is added, every line is made again as a new
// report's is. Inside the transaction, under the lock, that makes the
// tables: a second server waits and finds the column.
bool AddVersionToLines(PGconn* c, ReportStore& reports, std::string& error)
{
    PostgresResult found;
    if (!RunPostgres(c,
                     "SELECT 1 FROM information_schema.columns WHERE table_schema = current_schema()"
                     " AND table_name = 'admin_reports' AND column_name = 'version'",
                     PostgresParams(), found, error))
        return false;
    if (PQntuples(found.get()) == 1)
        return true;
    if (!ExecutePostgres(c, "ALTER TABLE admin_reports ADD COLUMN IF NOT EXISTS version BYTEA NOT NULL"
                            " DEFAULT '\\x'::bytea",
                         error))
        return false;
    const auto findBatch = [c](int64_t after, size_t count, std::vector<std::pair<int64_t, ReportKind>>& lines,
                               std::string& failure) {
        PostgresResult result;
        if (!RunPostgres(c, "SELECT id, kind FROM admin_reports WHERE id > $1::bigint ORDER BY id LIMIT $2::bigint",
                         PostgresParams().AddInt64(after).AddInt64(static_cast<int64_t>(count)), result, failure))
            return false;
        for (int row = 0; row < PQntuples(result.get()); ++row)
            lines.emplace_back(GetPostgresInt64(result.get(), row, 0),
                               GetPostgresInt32(result.get(), row, 1) != 0 ? ReportKind::Crash : ReportKind::Bug);
        return true;
    };
    const auto rewrite = [c](const std::vector<IndexedReport>& batch, std::string& failure) {
        for (const IndexedReport& report : batch) {
            PostgresResult result;
            if (!RunPostgres(c,
                             "UPDATE admin_reports SET version = $2::bytea, email = $3::bytea, what = $4::bytea,"
                             " words = $5::text WHERE id = $1::bigint",
                             PostgresParams()
                                 .AddInt64(report.id)
                                 .AddBytes(report.version)
                                 .AddBytes(report.email)
                                 .AddBytes(report.whatHappened)
                                 .AddBytes(ListReportWords(report)),
                             result, failure)) {
                failure = "cannot index report " + std::to_string(report.id) + " again: " + failure;
                return false;
            }
        }
        return true;
    };
    return DescribeIndexedReportsAgain(reports, findBatch, rewrite, error);
}

class PostgresAdminStore : public AdminStore
{
public:
    PostgresAdminStore(const std::string& url, PostgresConnection first) : m_pool(url, std::move(first)) {}

    StoreAnswer AddUser(const std::string& name, const std::string& hash, const std::string& createdUtc,
                        std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("INSERT INTO admin_users (name, hash, created_utc) VALUES ($1::bytea, $2::text, $3::text)"
                 " ON CONFLICT DO NOTHING",
                 PostgresParams().AddBytes(name).AddBytes(hash).AddBytes(createdUtc), result, error)) {
            error = "cannot add the user: " + error;
            return StoreAnswer::Failed;
        }
        return HasOneRowChanged(result) ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    StoreAnswer RemoveUser(const std::string& name, std::string& error) override
    {
        PostgresResult result;
        // One statement: the account and its sessions go together.
        if (!m_pool.Run("WITH sessions AS (DELETE FROM admin_sessions WHERE user_name = $1::bytea)"
                 " DELETE FROM admin_users WHERE name = $1::bytea",
                 PostgresParams().AddBytes(name), result, error)) {
            error = "cannot remove the user: " + error;
            return StoreAnswer::Failed;
        }
        return HasOneRowChanged(result) ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    bool ListUsers(std::vector<AdminUser>& users, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT name, created_utc FROM admin_users ORDER BY name", PostgresParams(), result, error)) {
            error = "cannot list the users: " + error;
            return false;
        }
        users.clear();
        for (int row = 0; row < PQntuples(result.get()); ++row)
            users.push_back(AdminUser{GetPostgresBytes(result.get(), row, 0), GetPostgresBytes(result.get(), row, 1)});
        return true;
    }

    StoreAnswer FindPasswordHash(const std::string& name, std::string& hash, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT hash FROM admin_users WHERE name = $1::bytea", PostgresParams().AddBytes(name), result,
                 error)) {
            error = "cannot read the user: " + error;
            return StoreAnswer::Failed;
        }
        if (PQntuples(result.get()) == 0)
            return StoreAnswer::NotFound;
        hash = GetPostgresBytes(result.get(), 0, 0);
        return StoreAnswer::Done;
    }

    bool CreateSession(const std::string& tokenDigest, const AdminSession& session, int64_t now,
                       std::string& error) override
    {
        PostgresResult result;
        // Sessions idle for a day have long ended: forget them here.
        if (!m_pool.Run("WITH ended AS (DELETE FROM admin_sessions WHERE last_used < $4::bigint - 86400)"
                 " INSERT INTO admin_sessions (token_digest, user_name, csrf, last_used)"
                 " VALUES ($1::text, $2::bytea, $3::text, $4::bigint)",
                 PostgresParams()
                     .AddBytes(tokenDigest)
                     .AddBytes(session.user)
                     .AddBytes(session.csrfToken)
                     .AddInt64(now),
                 result, error)) {
            error = "cannot store the session: " + error;
            return false;
        }
        return true;
    }

    StoreAnswer ResumeSession(const std::string& tokenDigest, int64_t now, int64_t idleSeconds,
                              AdminSession& session, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT s.user_name, s.csrf, s.last_used FROM admin_sessions s"
                 " JOIN admin_users u ON u.name = s.user_name WHERE s.token_digest = $1::text",
                 PostgresParams().AddBytes(tokenDigest), result, error)) {
            error = "cannot read the session: " + error;
            return StoreAnswer::Failed;
        }
        if (PQntuples(result.get()) == 0)
            return StoreAnswer::NotFound;
        session.user = GetPostgresBytes(result.get(), 0, 0);
        session.csrfToken = GetPostgresBytes(result.get(), 0, 1);
        const int64_t lastUsed = GetPostgresInt64(result.get(), 0, 2);
        const bool ended = now - lastUsed > idleSeconds;
        // A write per page would cost a synced commit each: a minute's
        // precision is plenty for an idle limit of hours.
        if (!ended && now - lastUsed < 60)
            return StoreAnswer::Done;
        PostgresParams params;
        params.AddBytes(tokenDigest);
        if (!ended)
            params.AddInt64(now);
        PostgresResult update;
        if (!m_pool.Run(ended ? "DELETE FROM admin_sessions WHERE token_digest = $1::text"
                       : "UPDATE admin_sessions SET last_used = $2::bigint WHERE token_digest = $1::text",
                 params, update, error)) {
            error = "cannot update the session: " + error;
            return StoreAnswer::Failed;
        }
        return ended ? StoreAnswer::NotFound : StoreAnswer::Done;
    }

    bool EndSession(const std::string& tokenDigest, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("DELETE FROM admin_sessions WHERE token_digest = $1::text", PostgresParams().AddBytes(tokenDigest),
                 result, error)) {
            error = "cannot end the session: " + error;
            return false;
        }
        return true;
    }

    StoreAnswer SetTriage(int64_t id, const Triage& triage, const std::string& user, const std::string& atUtc,
                          std::string& error) override
    {
        PostgresResult result;
        // One statement: the audit line only for a report that is there.
        if (!m_pool.Run("WITH changed AS (UPDATE admin_reports"
                 " SET status = $2::text, duplicate_of = $3::bigint, note = $4::bytea"
                 " WHERE id = $1::bigint RETURNING id)"
                 " INSERT INTO admin_audit (report_id, at_utc, user_name, status, duplicate_of, note)"
                 " SELECT id, $5::text, $6::bytea, $2::text, $3::bigint, $4::bytea FROM changed",
                 PostgresParams()
                     .AddInt64(id)
                     .AddBytes(triage.status)
                     .AddInt64(triage.duplicateOf)
                     .AddBytes(triage.note)
                     .AddBytes(atUtc)
                     .AddBytes(user),
                 result, error)) {
            error = "cannot store the triage: " + error;
            return StoreAnswer::Failed;
        }
        return HasOneRowChanged(result) ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    StoreAnswer LoadTriage(int64_t id, Triage& triage, std::vector<AuditEntry>& audit, std::string& error) override
    {
        PostgresResult result;
        PostgresResult lines;
        if (!m_pool.Run("SELECT status, duplicate_of, note FROM admin_reports WHERE id = $1::bigint",
                 PostgresParams().AddInt64(id), result, error) ||
            !m_pool.Run("SELECT at_utc, user_name, status, duplicate_of, note FROM admin_audit WHERE report_id = $1::bigint"
                 " ORDER BY seq",
                 PostgresParams().AddInt64(id), lines, error)) {
            error = "cannot read the triage: " + error;
            return StoreAnswer::Failed;
        }
        if (PQntuples(result.get()) == 0)
            return StoreAnswer::NotFound;
        triage.status = GetPostgresBytes(result.get(), 0, 0);
        triage.duplicateOf = GetPostgresInt64(result.get(), 0, 1);
        triage.note = GetPostgresBytes(result.get(), 0, 2);
        audit.clear();
        const PGresult* r = lines.get();
        for (int row = 0; row < PQntuples(r); ++row) {
            AuditEntry entry;
            entry.atUtc = GetPostgresBytes(r, row, 0);
            entry.user = GetPostgresBytes(r, row, 1);
            entry.triage.status = GetPostgresBytes(r, row, 2);
            entry.triage.duplicateOf = GetPostgresInt64(r, row, 3);
            entry.triage.note = GetPostgresBytes(r, row, 4);
            audit.push_back(entry);
        }
        return StoreAnswer::Done;
    }

    bool FindMissingReports(bool everyReport, std::vector<std::pair<int64_t, ReportKind>>& ids,
                            std::string& error) override
    {
        PostgresResult missing;
        const char* sql =
            everyReport
                ? "SELECT id, 0 FROM reports r WHERE NOT EXISTS (SELECT 1 FROM admin_reports a WHERE a.id = r.id)"
                  " UNION ALL SELECT id, 1 FROM crash_reports c"
                  " WHERE NOT EXISTS (SELECT 1 FROM admin_reports a WHERE a.id = c.id) ORDER BY 1"
                : "WITH newest AS (SELECT coalesce(max(id), 0) - $1::bigint AS id FROM admin_reports)"
                  " SELECT id, 0 FROM reports r WHERE id > (SELECT id FROM newest)"
                  " AND NOT EXISTS (SELECT 1 FROM admin_reports a WHERE a.id = r.id)"
                  " UNION ALL SELECT id, 1 FROM crash_reports c WHERE id > (SELECT id FROM newest)"
                  " AND NOT EXISTS (SELECT 1 FROM admin_reports a WHERE a.id = c.id) ORDER BY 1";
        PostgresParams params;
        if (!everyReport)
            params.AddInt64(kLateReportWindow);
        if (!m_pool.Run(sql, params, missing, error)) {
            error = "cannot find the reports to index: " + error;
            return false;
        }
        for (int row = 0; row < PQntuples(missing.get()); ++row)
            ids.emplace_back(GetPostgresInt64(missing.get(), row, 0),
                             GetPostgresInt32(missing.get(), row, 1) != 0 ? ReportKind::Crash : ReportKind::Bug);
        return true;
    }

    bool ListReportLines(const ReportFilter& filter, int64_t offset, int64_t count, std::vector<ReportLine>& lines,
                         bool& more, std::string& error) override
    {
        lines.clear();
        more = false;
        bool typedWords = false;
        const std::vector<std::string> patterns = MakeSearchPatterns(filter.text, typedWords);
        // Only signs typed: no word to find, and no report has it (as in
        // the SQLite store).
        if (typedWords && patterns.empty())
            return true;
        PostgresParams params;
        params.AddInt64(count + 1).AddInt64(offset);
        std::string sql =
            "SELECT id, kind, received_utc, component, email, what, status, version FROM admin_reports WHERE true";
        const auto addCondition = [&](const char* condition, const std::string& value, const char* type) {
            params.AddBytes(value);
            sql += std::string(" AND ") + condition + "$" + std::to_string(params.Count()) + "::" + type;
        };
        if (!filter.component.empty())
            addCondition("component = ", filter.component, "bytea");
        if (!filter.status.empty())
            addCondition("status = ", filter.status, "text");
        if (!filter.version.empty())
            addCondition("version = ", filter.version, "bytea");
        if (!filter.fromDate.empty())
            addCondition("received_utc >= ", filter.fromDate, "text");
        // "2024-05-01U" sorts after every time of that day ("2024-05-01T...").
        if (!filter.toDate.empty())
            addCondition("received_utc < ", filter.toDate + "U", "text");
        for (const std::string& pattern : patterns)
            addCondition("words ILIKE ", pattern, "text");
        sql += " ORDER BY id DESC LIMIT $1::bigint OFFSET $2::bigint";

        PostgresResult result;
        if (!m_pool.Run(sql.c_str(), params, result, error)) {
            error = "cannot list the reports: " + error;
            return false;
        }
        const PGresult* r = result.get();
        for (int row = 0; row < PQntuples(r); ++row) {
            if (static_cast<int64_t>(lines.size()) == count) {
                more = true;
                break;
            }
            ReportLine line;
            line.id = GetPostgresInt64(r, row, 0);
            line.kind = GetPostgresInt32(r, row, 1) != 0 ? ReportKind::Crash : ReportKind::Bug;
            line.receivedUtc = GetPostgresBytes(r, row, 2);
            line.component = GetPostgresBytes(r, row, 3);
            line.email = GetPostgresBytes(r, row, 4);
            line.whatHappened = GetPostgresBytes(r, row, 5);
            line.status = GetPostgresBytes(r, row, 6);
            line.version = GetPostgresBytes(r, row, 7);
            lines.push_back(line);
        }
        return true;
    }

    bool CountReportsPerDay(const std::string& fromDate, std::vector<DayCount>& counts, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT substr(received_utc, 1, 10), component, count(*) FROM admin_reports"
                 " WHERE received_utc >= $1::text GROUP BY 1, 2 ORDER BY 1, 2",
                 PostgresParams().AddBytes(fromDate), result, error)) {
            error = "cannot count the reports: " + error;
            return false;
        }
        counts.clear();
        for (int row = 0; row < PQntuples(result.get()); ++row) {
            counts.push_back(DayCount{GetPostgresBytes(result.get(), row, 0), GetPostgresBytes(result.get(), row, 1),
                                      GetPostgresInt64(result.get(), row, 2)});
        }
        return true;
    }

    bool CountStatuses(std::vector<StatusCount>& counts, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT status, count(*) FROM admin_reports GROUP BY status ORDER BY status", PostgresParams(),
                 result, error)) {
            error = "cannot count the statuses: " + error;
            return false;
        }
        counts.clear();
        for (int row = 0; row < PQntuples(result.get()); ++row)
            counts.push_back(
                StatusCount{GetPostgresBytes(result.get(), row, 0), GetPostgresInt64(result.get(), row, 1)});
        return true;
    }

private:
    // Adds each report in one transaction. A report indexed already (by
    // this server or another) keeps its line; one removed meanwhile gets
    // none.
    bool IndexReports(const std::vector<IndexedReport>& batch, std::string& error) override
    {
        PostgresConnection connection = m_pool.Take(error);
        if (!connection)
            return false;
        bool done = ExecutePostgres(connection.get(), "BEGIN", error);
        for (size_t i = 0; done && i < batch.size(); ++i) {
            const IndexedReport& report = batch[i];
            PostgresResult result;
            done = RunPostgres(connection.get(),
                         "INSERT INTO admin_reports (id, kind, received_utc, component, email, what, words, version)"
                         " SELECT $1::bigint, $2::bigint, $3::text, $4::bytea, $5::bytea, $6::bytea, $7::text,"
                         " $8::bytea"
                         " WHERE EXISTS (SELECT 1 FROM reports WHERE id = $1::bigint)"
                         " OR EXISTS (SELECT 1 FROM crash_reports WHERE id = $1::bigint) ON CONFLICT (id) DO NOTHING",
                         PostgresParams()
                             .AddInt64(report.id)
                             .AddInt64(report.kind == ReportKind::Crash ? 1 : 0)
                             .AddBytes(report.receivedUtc)
                             .AddBytes(report.component)
                             .AddBytes(report.email)
                             .AddBytes(report.whatHappened)
                             .AddBytes(ListReportWords(report))
                             .AddBytes(report.version),
                         result, error);
            if (!done)
                error = "cannot index report " + std::to_string(report.id) + ": " + error;
        }
        done = done && ExecutePostgres(connection.get(), "COMMIT", error);
        if (!done) {
            std::string ignored;
            ExecutePostgres(connection.get(), "ROLLBACK", ignored);
        }
        m_pool.GiveBack(std::move(connection));
        return done;
    }

    PostgresPool m_pool;
};

}  // namespace

std::unique_ptr<AdminStore> OpenPostgresAdminStore(const std::string& url, std::string& error)
{
    PostgresConnection connection = MakeTablesBesideReports(
        url, kLockSchema,
        [](PGconn* c, ReportStore& reports, std::string& failure) {
            return ExecutePostgres(c, kCreateAdminSchema, failure) && AddVersionToLines(c, reports, failure) &&
                   ExecutePostgres(c, kIndexVersions, failure);
        },
        "the interface's tables", error);
    if (!connection)
        return nullptr;
    return std::unique_ptr<AdminStore>(new PostgresAdminStore(url, std::move(connection)));
}
