// The alert rules and outbox in reports.db, beside the crash groups whose
// transactions queue their events.
#include "server/store/sqlite_alert_store.h"

#include <time.h>

#include <mutex>
#include <utility>

#include "server/base/ascii_text.h"
#include "server/store/sqlite_connection.h"
#include "server/store/sqlite_report_store.h"

namespace {

// One outbox row per event and rule, so that a webhook that fails does not
// hold back (or repeat) the mail of another rule. A row whose claim has run
// out is free again for any server.
const char kCreateAlertSchema[] =
    "CREATE TABLE IF NOT EXISTS alert_rules ("
    " id INTEGER PRIMARY KEY, events TEXT NOT NULL, components TEXT NOT NULL, webhook_url TEXT NOT NULL,"
    " secret TEXT NOT NULL, email TEXT NOT NULL, added_utc TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS alert_outbox ("
    " id INTEGER PRIMARY KEY, rule_id INTEGER NOT NULL, event TEXT NOT NULL, report_id INTEGER NOT NULL,"
    " group_id INTEGER NOT NULL, signature TEXT NOT NULL, group_count INTEGER NOT NULL, hour_count INTEGER NOT NULL,"
    " version TEXT NOT NULL, versions TEXT NOT NULL, component TEXT NOT NULL, created_utc TEXT NOT NULL,"
    " created_at INTEGER NOT NULL, status TEXT NOT NULL DEFAULT 'pending', attempts INTEGER NOT NULL DEFAULT 0,"
    " next_attempt INTEGER NOT NULL, claimed_by TEXT NOT NULL DEFAULT '', claimed_until INTEGER NOT NULL DEFAULT 0,"
    " last_error TEXT NOT NULL DEFAULT '', done_utc TEXT NOT NULL DEFAULT '', UNIQUE (rule_id, event, report_id));"
    "CREATE INDEX IF NOT EXISTS alert_outbox_due ON alert_outbox (status, next_attempt);"
    "CREATE TABLE IF NOT EXISTS alert_group_state ("
    " group_id INTEGER PRIMARY KEY, last_alert_utc TEXT NOT NULL, last_spike_utc TEXT NOT NULL,"
    " hour TEXT NOT NULL, hour_count INTEGER NOT NULL);";

const char kDeliveryColumns[] =
    "SELECT o.id, o.event, o.report_id, o.group_id, o.signature, o.group_count, o.hour_count, o.version, o.versions,"
    " o.component, o.created_utc, o.created_at, o.attempts, o.status, o.last_error,"
    " r.id, r.events, r.components, r.webhook_url, r.secret, r.email, r.added_utc"
    " FROM alert_outbox o JOIN alert_rules r ON r.id = o.rule_id ";

void ReadRule(sqlite3_stmt* s, int first, AlertRule& rule)
{
    rule.id = sqlite3_column_int64(s, first);
    rule.events = SplitAlertList(ColumnText(s, first + 1));
    rule.components = SplitAlertList(ColumnText(s, first + 2));
    rule.webhookUrl = ColumnText(s, first + 3);
    rule.secret = ColumnText(s, first + 4);
    rule.email = ColumnText(s, first + 5);
    rule.addedUtc = ColumnText(s, first + 6);
}

AlertDelivery ReadDelivery(sqlite3_stmt* s)
{
    AlertDelivery d;
    d.id = sqlite3_column_int64(s, 0);
    d.event = ColumnText(s, 1);
    d.reportId = sqlite3_column_int64(s, 2);
    d.groupId = sqlite3_column_int64(s, 3);
    d.signature = ColumnText(s, 4);
    d.groupCount = sqlite3_column_int64(s, 5);
    d.hourCount = sqlite3_column_int64(s, 6);
    d.version = ColumnText(s, 7);
    d.versions = SplitVersionCounts(ColumnText(s, 8));
    d.component = ColumnText(s, 9);
    d.createdUtc = ColumnText(s, 10);
    d.createdAt = sqlite3_column_int64(s, 11);
    d.attempts = sqlite3_column_int(s, 12);
    d.status = ColumnText(s, 13);
    d.lastError = ColumnText(s, 14);
    ReadRule(s, 15, d.rule);
    return d;
}

// Queues facts.event for every rule that asks for it (and, with a component,
// names it); a repeat of the same event and report adds nothing.
bool QueueEvent(sqlite3* db, const AlertDelivery& facts, std::string& error)
{
    return RunSqliteStatement(
        db,
        "INSERT INTO alert_outbox (rule_id, event, report_id, group_id, signature, group_count, hour_count, version,"
        " versions, component, created_utc, created_at, next_attempt)"
        " SELECT id, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?11 FROM alert_rules"
        " WHERE instr(events, ',' || ?1 || ',') > 0"
        " AND (?1 <> 'bug-report' OR components = '' OR instr(components, ',' || ?12 || ',') > 0)"
        " ON CONFLICT DO NOTHING",
        [&](sqlite3_stmt* s) {
            BindText(s, 1, facts.event);
            sqlite3_bind_int64(s, 2, facts.reportId);
            sqlite3_bind_int64(s, 3, facts.groupId);
            BindText(s, 4, facts.signature);
            sqlite3_bind_int64(s, 5, facts.groupCount);
            sqlite3_bind_int64(s, 6, facts.hourCount);
            BindText(s, 7, facts.version);
            BindText(s, 8, JoinVersionCounts(facts.versions));
            BindText(s, 9, facts.component);
            BindText(s, 10, facts.createdUtc);
            sqlite3_bind_int64(s, 11, static_cast<sqlite3_int64>(time(nullptr)));
            BindText(s, 12, ToLowerAscii(facts.component));
        },
        error);
}

class SqliteAlertStore : public AlertStore
{
public:
    explicit SqliteAlertStore(SqliteDatabase db) : m_db(std::move(db)) {}

    bool AddRule(AlertRule& rule, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!RunSqliteStatement(
                m_db.get(),
                "INSERT INTO alert_rules (events, components, webhook_url, secret, email, added_utc)"
                " VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                [&](sqlite3_stmt* s) {
                    BindText(s, 1, JoinAlertList(rule.events));
                    BindText(s, 2, JoinAlertList(rule.components));
                    BindText(s, 3, rule.webhookUrl);
                    BindText(s, 4, rule.secret);
                    BindText(s, 5, rule.email);
                    BindText(s, 6, rule.addedUtc);
                },
                error))
            return false;
        rule.id = sqlite3_last_insert_rowid(m_db.get());
        return true;
    }

    StoreAnswer RemoveRule(int64_t id, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sqlite3* db = m_db.get();
        auto bindId = [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, id); };
        int removed = 0;
        const bool done = RunSqliteTransaction(
            db,
            [&]() {
                if (!RunSqliteStatement(db, "DELETE FROM alert_rules WHERE id = ?1", bindId, error))
                    return false;
                removed = sqlite3_changes(db);
                return RunSqliteStatement(db, "DELETE FROM alert_outbox WHERE rule_id = ?1", bindId, error);
            },
            error);
        if (!done)
            return StoreAnswer::Failed;
        return removed == 1 ? StoreAnswer::Done : StoreAnswer::NotFound;
    }

    bool ListRules(std::vector<AlertRule>& rules, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        rules.clear();
        return QuerySqliteRows(
            m_db.get(),
            "SELECT id, events, components, webhook_url, secret, email, added_utc FROM alert_rules ORDER BY id",
            [](sqlite3_stmt*) {},
            [&](sqlite3_stmt* s) {
                rules.emplace_back();
                ReadRule(s, 0, rules.back());
            },
            error);
    }

    bool QueueBugReportAlert(int64_t reportId, const std::string& component, const std::string& receivedUtc,
                             std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return QueueEvent(m_db.get(), MakeBugReportEvent(reportId, component, receivedUtc), error);
    }

    bool ClaimDeliveries(const std::string& owner, int64_t now, int leaseSeconds, int limit,
                         std::vector<AlertDelivery>& deliveries, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        sqlite3* db = m_db.get();
        deliveries.clear();
        // Looked at every second: the write lock, which the uploads wait
        // for too, only when something is due.
        bool due = false;
        if (!QuerySqliteRows(
                db,
                "SELECT 1 FROM alert_outbox WHERE status = 'pending' AND next_attempt <= ?1 AND claimed_until <= ?1"
                " LIMIT 1",
                [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, now); }, [&](sqlite3_stmt*) { due = true; }, error))
            return false;
        if (!due)
            return true;
        // The write lock taken first: no other server reads the same rows
        // as free in between.
        const bool claimed = RunSqliteTransaction(
            db,
            [&]() {
                bool done = QuerySqliteRows(
                    db,
                    (std::string(kDeliveryColumns) +
                     "WHERE o.status = 'pending' AND o.next_attempt <= ?1 AND o.claimed_until <= ?1 ORDER BY o.id LIMIT ?2")
                        .c_str(),
                    [&](sqlite3_stmt* s) {
                        sqlite3_bind_int64(s, 1, now);
                        sqlite3_bind_int(s, 2, limit);
                    },
                    [&](sqlite3_stmt* s) { deliveries.push_back(ReadDelivery(s)); }, error);
                for (size_t i = 0; done && i < deliveries.size(); ++i) {
                    done = RunSqliteStatement(
                        db, "UPDATE alert_outbox SET claimed_by = ?2, claimed_until = ?3 WHERE id = ?1",
                        [&](sqlite3_stmt* s) {
                            sqlite3_bind_int64(s, 1, deliveries[i].id);
                            BindText(s, 2, owner);
                            sqlite3_bind_int64(s, 3, now + leaseSeconds);
                        },
                        error);
                }
                return done;
            },
            error);
        if (!claimed)
            deliveries.clear();
        return claimed;
    }

    bool FinishDelivery(int64_t id, const std::string& owner, DeliveryOutcome outcome, int64_t nextAttempt,
                        const std::string& lastError, const std::string& doneUtc, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return RunSqliteStatement(
            m_db.get(),
            "UPDATE alert_outbox SET status = ?3, attempts = attempts + 1, next_attempt = ?4, claimed_by = '',"
            " claimed_until = 0, last_error = ?5, done_utc = ?6 WHERE id = ?1 AND claimed_by = ?2",
            [&](sqlite3_stmt* s) {
                sqlite3_bind_int64(s, 1, id);
                BindText(s, 2, owner);
                BindText(s, 3, NameDeliveryStatus(outcome));
                sqlite3_bind_int64(s, 4, nextAttempt);
                BindText(s, 5, lastError);
                BindText(s, 6, doneUtc);
            },
            error);
    }

    bool ListDeliveries(int limit, std::vector<AlertDelivery>& deliveries, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        deliveries.clear();
        return QuerySqliteRows(
            m_db.get(), (std::string(kDeliveryColumns) + "ORDER BY o.id DESC LIMIT ?1").c_str(),
            [&](sqlite3_stmt* s) { sqlite3_bind_int(s, 1, limit); },
            [&](sqlite3_stmt* s) { deliveries.push_back(ReadDelivery(s)); }, error);
    }

private:
    SqliteDatabase m_db;
    std::mutex m_mutex;
};

}  // namespace

bool CreateSqliteAlertTables(sqlite3* db, std::string& error)
{
    return ExecuteSqlite(db, kCreateAlertSchema, error);
}

bool QueueSqliteCrashAlert(sqlite3* db, const CrashAlertFacts& facts, std::string& error)
{
    if (!facts.firstAnalysis)
        return true;  // the first processing counted it
    GroupAlertState state;
    auto bindGroup = [&](sqlite3_stmt* s) { sqlite3_bind_int64(s, 1, facts.groupId); };
    if (!QuerySqliteRows(
            db, "SELECT last_alert_utc, last_spike_utc, hour, hour_count FROM alert_group_state WHERE group_id = ?1",
            bindGroup,
            [&](sqlite3_stmt* s) {
                state.lastAlertUtc = ColumnText(s, 0);
                state.lastSpikeUtc = ColumnText(s, 1);
                state.hour = ColumnText(s, 2);
                state.hourCount = sqlite3_column_int64(s, 3);
            },
            error))
        return false;
    const std::string chosen = ChooseCrashEvent(facts, state);
    if (!RunSqliteStatement(
            db,
            "INSERT OR REPLACE INTO alert_group_state (group_id, last_alert_utc, last_spike_utc, hour, hour_count)"
            " VALUES (?1, ?2, ?3, ?4, ?5)",
            [&](sqlite3_stmt* s) {
                sqlite3_bind_int64(s, 1, facts.groupId);
                BindText(s, 2, state.lastAlertUtc);
                BindText(s, 3, state.lastSpikeUtc);
                BindText(s, 4, state.hour);
                sqlite3_bind_int64(s, 5, state.hourCount);
            },
            error))
        return false;
    if (chosen.empty())
        return true;
    AlertDelivery event = MakeCrashEvent(chosen, facts, state);
    return QuerySqliteRows(
               db,
               "SELECT version, count FROM crash_group_versions WHERE group_id = ?1 AND count > 0"
               " ORDER BY count DESC, version DESC LIMIT 10",
               bindGroup,
               [&](sqlite3_stmt* s) { event.versions.emplace_back(ColumnText(s, 0), sqlite3_column_int64(s, 1)); },
               error) &&
           QueueEvent(db, event, error);
}

std::unique_ptr<AlertStore> OpenSqliteAlertStore(const std::string& dataDir, std::string& error)
{
    if (!OpenSqliteReportStore(dataDir, true, error))
        return nullptr;
    SqliteDatabase db = OpenSqliteReportsFile(dataDir, error);
    if (!db)
        return nullptr;
    if (!RunSqliteTransaction(db.get(), [&]() { return CreateSqliteAlertTables(db.get(), error); }, error)) {
        return nullptr;
    }
    return std::unique_ptr<AlertStore>(new SqliteAlertStore(std::move(db)));
}
