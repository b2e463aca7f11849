// The alert rules and outbox in the PostgreSQL database of the reports.
#include "server/store/postgres_alert_store.h"

#include <time.h>

#include <utility>

#include "server/base/ascii_text.h"
#include "server/store/postgres_connection.h"
#include "server/store/postgres_report_store.h"

namespace {

// The crash tables' lock: the crash store makes these tables too, and two
// servers starting together must not make them at once.
const char kLockSchema[] = "SELECT pg_advisory_xact_lock(7336941655551152)";

// As on SQLite; texts from reporters and dumps are bytea.
const char kCreateAlertSchema[] =
    "CREATE TABLE IF NOT EXISTS alert_rules ("
    " id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, events TEXT NOT NULL, components BYTEA NOT NULL,"
    " webhook_url BYTEA NOT NULL, secret BYTEA NOT NULL, email BYTEA NOT NULL, added_utc TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS alert_outbox ("
    " id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, rule_id BIGINT NOT NULL, event TEXT NOT NULL,"
    " report_id BIGINT NOT NULL, group_id BIGINT NOT NULL, signature BYTEA NOT NULL, group_count BIGINT NOT NULL,"
    " hour_count BIGINT NOT NULL, version BYTEA NOT NULL, versions BYTEA NOT NULL, component BYTEA NOT NULL,"
    " created_utc TEXT NOT NULL, created_at BIGINT NOT NULL, status TEXT NOT NULL DEFAULT 'pending',"
    " attempts BIGINT NOT NULL DEFAULT 0, next_attempt BIGINT NOT NULL, claimed_by TEXT NOT NULL DEFAULT '',"
    " claimed_until BIGINT NOT NULL DEFAULT 0, last_error BYTEA NOT NULL DEFAULT '\\x'::bytea,"
    " done_utc TEXT NOT NULL DEFAULT '', UNIQUE (rule_id, event, report_id));"
    "CREATE INDEX IF NOT EXISTS alert_outbox_due ON alert_outbox (status, next_attempt);"
    "CREATE TABLE IF NOT EXISTS alert_group_state ("
    " group_id BIGINT PRIMARY KEY, last_alert_utc TEXT NOT NULL, last_spike_utc TEXT NOT NULL,"
    " hour TEXT NOT NULL, hour_count BIGINT NOT NULL);";

const char kDeliveryColumns[] =
    "SELECT o.id, o.event, o.report_id, o.group_id, o.signature, o.group_count, o.hour_count, o.version, o.versions,"
    " o.component, o.created_utc, o.created_at, o.attempts, o.status, o.last_error,"
    " r.id, r.events, r.components, r.webhook_url, r.secret, r.email, r.added_utc ";

void ReadRule(const PGresult* r, int row, int first, AlertRule& rule)
{
    rule.id = GetPostgresInt64(r, row, first);
    rule.events = SplitAlertList(GetPostgresBytes(r, row, first + 1));
    rule.components = SplitAlertList(GetPostgresBytes(r, row, first + 2));
    rule.webhookUrl = GetPostgresBytes(r, row, first + 3);
    rule.secret = GetPostgresBytes(r, row, first + 4);
    rule.email = GetPostgresBytes(r, row, first + 5);
    rule.addedUtc = GetPostgresBytes(r, row, first + 6);
}

void ReadDeliveries(const PGresult* r, std::vector<AlertDelivery>& deliveries)
{
    deliveries.clear();
    for (int i = 0; i < PQntuples(r); ++i) {
        AlertDelivery d;
        d.id = GetPostgresInt64(r, i, 0);
        d.event = GetPostgresBytes(r, i, 1);
        d.reportId = GetPostgresInt64(r, i, 2);
        d.groupId = GetPostgresInt64(r, i, 3);
        d.signature = GetPostgresBytes(r, i, 4);
        d.groupCount = GetPostgresInt64(r, i, 5);
        d.hourCount = GetPostgresInt64(r, i, 6);
        d.version = GetPostgresBytes(r, i, 7);
        d.versions = SplitVersionCounts(GetPostgresBytes(r, i, 8));
        d.component = GetPostgresBytes(r, i, 9);
        d.createdUtc = GetPostgresBytes(r, i, 10);
        d.createdAt = GetPostgresInt64(r, i, 11);
        d.attempts = static_cast<int>(GetPostgresInt64(r, i, 12));
        d.status = GetPostgresBytes(r, i, 13);
        d.lastError = GetPostgresBytes(r, i, 14);
        ReadRule(r, i, 15, d.rule);
        deliveries.push_back(d);
    }
}

// As QueueEvent on SQLite.
bool QueueEvent(PGconn* c, const AlertDelivery& facts, std::string& error)
{
    PostgresResult result;
    return RunPostgres(
        c,
        "INSERT INTO alert_outbox (rule_id, event, report_id, group_id, signature, group_count, hour_count, version,"
        " versions, component, created_utc, created_at, next_attempt)"
        " SELECT id, $1::text, $2::bigint, $3::bigint, $4::bytea, $5::bigint, $6::bigint, $7::bytea, $8::bytea,"
        " $9::bytea, $10::text, $11::bigint, $11::bigint FROM alert_rules"
        " WHERE position(',' || $1::text || ',' in events) > 0"
        " AND ($1::text <> 'bug-report' OR components = '\\x'::bytea"
        "  OR position(',' || $12::bytea || ',' in components) > 0)"
        " ON CONFLICT DO NOTHING",
        PostgresParams()
            .AddBytes(facts.event)
            .AddInt64(facts.reportId)
            .AddInt64(facts.groupId)
            .AddBytes(facts.signature)
            .AddInt64(facts.groupCount)
            .AddInt64(facts.hourCount)
            .AddBytes(facts.version)
            .AddBytes(JoinVersionCounts(facts.versions))
            .AddBytes(facts.component)
            .AddBytes(facts.createdUtc)
            .AddInt64(static_cast<int64_t>(time(nullptr)))
            .AddBytes(ToLowerAscii(facts.component)),
        result, error);
}

class PostgresAlertStore : public AlertStore
{
public:
    PostgresAlertStore(const std::string& url, PostgresConnection first) : m_pool(url, std::move(first)) {}

    bool AddRule(AlertRule& rule, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("INSERT INTO alert_rules (events, components, webhook_url, secret, email, added_utc)"
                 " VALUES ($1::text, $2::bytea, $3::bytea, $4::bytea, $5::bytea, $6::text) RETURNING id",
                 PostgresParams()
                     .AddBytes(JoinAlertList(rule.events))
                     .AddBytes(JoinAlertList(rule.components))
                     .AddBytes(rule.webhookUrl)
                     .AddBytes(rule.secret)
                     .AddBytes(rule.email)
                     .AddBytes(rule.addedUtc),
                 result, error))
            return false;
        rule.id = GetPostgresInt64(result.get(), 0, 0);
        return true;
    }

    StoreAnswer RemoveRule(int64_t id, std::string& error) override
    {
        // One statement: the rule and its undelivered events go together.
        PostgresResult result;
        if (!m_pool.Run("WITH gone AS (DELETE FROM alert_rules WHERE id = $1::bigint RETURNING id),"
                 " outbox AS (DELETE FROM alert_outbox WHERE rule_id IN (SELECT id FROM gone))"
                 " SELECT count(*) FROM gone",
                 PostgresParams().AddInt64(id), result, error))
            return StoreAnswer::Failed;
        return GetPostgresInt64(result.get(), 0, 0) == 1 ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    bool ListRules(std::vector<AlertRule>& rules, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run("SELECT id, events, components, webhook_url, secret, email, added_utc FROM alert_rules ORDER BY id",
                 PostgresParams(), result, error))
            return false;
        rules.assign(static_cast<size_t>(PQntuples(result.get())), AlertRule());
        for (size_t i = 0; i < rules.size(); ++i)
            ReadRule(result.get(), static_cast<int>(i), 0, rules[i]);
        return true;
    }

    bool QueueBugReportAlert(int64_t reportId, const std::string& component, const std::string& receivedUtc,
                             std::string& error) override
    {
        PostgresConnection connection = m_pool.Take(error);
        if (!connection)
            return false;
        const bool done = QueueEvent(connection.get(), MakeBugReportEvent(reportId, component, receivedUtc), error);
        m_pool.GiveBack(std::move(connection));
        return done;
    }

    bool ClaimDeliveries(const std::string& owner, int64_t now, int leaseSeconds, int limit,
                         std::vector<AlertDelivery>& deliveries, std::string& error) override
    {
        // SKIP LOCKED: a row another server is claiming right now is left
        // to it rather than waited for.
        PostgresResult result;
        if (!m_pool.Run((std::string("WITH o AS (UPDATE alert_outbox SET claimed_by = $1::text,"
                              " claimed_until = $2::bigint + $3::bigint WHERE id IN (SELECT id FROM alert_outbox"
                              " WHERE status = 'pending' AND next_attempt <= $2::bigint AND claimed_until <= $2::bigint"
                              " ORDER BY id LIMIT $4::bigint FOR UPDATE SKIP LOCKED) RETURNING *) ") +
                  kDeliveryColumns + "FROM o JOIN alert_rules r ON r.id = o.rule_id ORDER BY o.id")
                     .c_str(),
                 PostgresParams().AddBytes(owner).AddInt64(now).AddInt64(leaseSeconds).AddInt64(limit), result,
                 error))
            return false;
        ReadDeliveries(result.get(), deliveries);
        return true;
    }

    bool FinishDelivery(int64_t id, const std::string& owner, DeliveryOutcome outcome, int64_t nextAttempt,
                        const std::string& lastError, const std::string& doneUtc, std::string& error) override
    {
        PostgresResult result;
        return m_pool.Run("UPDATE alert_outbox SET status = $3::text, attempts = attempts + 1, next_attempt = $4::bigint,"
                   " claimed_by = '', claimed_until = 0, last_error = $5::bytea, done_utc = $6::text"
                   " WHERE id = $1::bigint AND claimed_by = $2::text",
                   PostgresParams()
                       .AddInt64(id)
                       .AddBytes(owner)
                       .AddBytes(NameDeliveryStatus(outcome))
                       .AddInt64(nextAttempt)
                       .AddBytes(lastError)
                       .AddBytes(doneUtc),
                   result, error);
    }

    bool ListDeliveries(int limit, std::vector<AlertDelivery>& deliveries, std::string& error) override
    {
        PostgresResult result;
        if (!m_pool.Run((std::string(kDeliveryColumns) +
                  "FROM alert_outbox o JOIN alert_rules r ON r.id = o.rule_id ORDER BY o.id DESC LIMIT $1::bigint")
                     .c_str(),
                 PostgresParams().AddInt64(limit), result, error))
            return false;
        ReadDeliveries(result.get(), deliveries);
        return true;
    }

private:
    PostgresPool m_pool;
};

}  // namespace

bool CreatePostgresAlertTables(PGconn* connection, std::string& error)
{
    // Made once: CREATE INDEX IF NOT EXISTS locks its table even when the
    // index is there, which would deadlock with a server saving a crash.
    PostgresResult made;
    if (!RunPostgres(connection, "SELECT to_regclass('alert_group_state') IS NOT NULL", PostgresParams(), made, error))
        return false;
    if (PQntuples(made.get()) == 1 && PQgetvalue(made.get(), 0, 0)[0] == 1)
        return true;
    return ExecutePostgres(connection, kCreateAlertSchema, error);
}

bool QueuePostgresCrashAlert(PGconn* c, const CrashAlertFacts& facts, std::string& error)
{
    if (!facts.firstAnalysis)
        return true;  // the first processing counted it
    PostgresResult row;
    PostgresResult result;
    const PostgresParams byGroup = PostgresParams().AddInt64(facts.groupId);
    if (!RunPostgres(c,
                     "SELECT last_alert_utc, last_spike_utc, hour, hour_count FROM alert_group_state"
                     " WHERE group_id = $1::bigint",
                     byGroup, row, error))
        return false;
    GroupAlertState state;
    if (PQntuples(row.get()) == 1) {
        state.lastAlertUtc = GetPostgresBytes(row.get(), 0, 0);
        state.lastSpikeUtc = GetPostgresBytes(row.get(), 0, 1);
        state.hour = GetPostgresBytes(row.get(), 0, 2);
        state.hourCount = GetPostgresInt64(row.get(), 0, 3);
    }
    const std::string chosen = ChooseCrashEvent(facts, state);
    if (!RunPostgres(c,
                     "INSERT INTO alert_group_state (group_id, last_alert_utc, last_spike_utc, hour, hour_count)"
                     " VALUES ($1::bigint, $2::text, $3::text, $4::text, $5::bigint) ON CONFLICT (group_id) DO UPDATE"
                     " SET last_alert_utc = excluded.last_alert_utc, last_spike_utc = excluded.last_spike_utc,"
                     " hour = excluded.hour, hour_count = excluded.hour_count",
                     PostgresParams()
                         .AddInt64(facts.groupId)
                         .AddBytes(state.lastAlertUtc)
                         .AddBytes(state.lastSpikeUtc)
                         .AddBytes(state.hour)
                         .AddInt64(state.hourCount),
                     result, error))
        return false;
    if (chosen.empty())
        return true;
    PostgresResult versions;
    if (!RunPostgres(c,
                     "SELECT version, count FROM crash_group_versions WHERE group_id = $1::bigint AND count > 0"
                     " ORDER BY count DESC, version DESC LIMIT 10",
                     byGroup, versions, error))
        return false;
    AlertDelivery event = MakeCrashEvent(chosen, facts, state);
    for (int i = 0; i < PQntuples(versions.get()); ++i)
        event.versions.emplace_back(GetPostgresBytes(versions.get(), i, 0), GetPostgresInt64(versions.get(), i, 1));
    return QueueEvent(c, event, error);
}

std::unique_ptr<AlertStore> OpenPostgresAlertStore(const std::string& url, std::string& error)
{
    PostgresConnection connection = MakeTablesBesideReports(
        url, kLockSchema,
        [](PGconn* c, ReportStore&, std::string& failure) { return CreatePostgresAlertTables(c, failure); },
        "the alert tables", error);
    if (!connection)
        return nullptr;
    return std::unique_ptr<AlertStore>(new PostgresAlertStore(url, std::move(connection)));
}
