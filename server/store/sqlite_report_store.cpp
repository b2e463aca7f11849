#include "server/store/sqlite_report_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "server/store/report_columns.h"
#include "server/store/sqlite_connection.h"
#include "server/store/sqlite_handles.h"

namespace {

// Step i brings a database of version i to version i + 1.
const char* const kMigrations[] = {
    // 1: the first server's table.
    "CREATE TABLE reports ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " received_utc TEXT NOT NULL,"
    " peer TEXT NOT NULL,"
    " user_agent TEXT NOT NULL,"
    " email BLOB NOT NULL,"
    " description1 BLOB NOT NULL,"
    " description2 BLOB NOT NULL,"
    " description3 BLOB NOT NULL,"
    " system_info BLOB NOT NULL,"
    " attachment_name BLOB NOT NULL,"
    " attachment BLOB NOT NULL,"
    " attachment_state TEXT NOT NULL,"
    " attachment_log_name BLOB NOT NULL,"
    " attachment_log BLOB NOT NULL,"
    " attachment_log_state TEXT NOT NULL,"
    " raw_body BLOB NOT NULL);",
    // 2: crash reports. Their ids come from the bug reports' AUTOINCREMENT
    // sequence (TakeNextId), hence no AUTOINCREMENT of their own.
    "CREATE TABLE crash_reports ("
    " id INTEGER PRIMARY KEY,"
    " received_utc TEXT NOT NULL,"
    " peer TEXT NOT NULL,"
    " user_agent TEXT NOT NULL,"
    " comment BLOB NOT NULL,"
    " attachment_dump_name BLOB NOT NULL,"
    " attachment_dump BLOB NOT NULL,"
    " attachment_dump_state TEXT NOT NULL,"
    " attachment_log_name BLOB NOT NULL,"
    " attachment_log BLOB NOT NULL,"
    " attachment_log_state TEXT NOT NULL,"
    " attachment_conf_name BLOB NOT NULL,"
    " attachment_conf BLOB NOT NULL,"
    " attachment_conf_state TEXT NOT NULL,"
    " raw_body BLOB NOT NULL);",
    // 3: the component; reports stored before keep an empty one.
    "ALTER TABLE reports ADD COLUMN component BLOB NOT NULL DEFAULT x'';",
    // 4: which columns are zstd frames; older rows keep theirs plain.
    "ALTER TABLE reports ADD COLUMN packing INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE crash_reports ADD COLUMN packing INTEGER NOT NULL DEFAULT 0;",
    // 5: the version and code page (older rows: none), and the upload keys.
    "ALTER TABLE reports ADD COLUMN version BLOB NOT NULL DEFAULT x'';"
    "ALTER TABLE reports ADD COLUMN code_page BLOB NOT NULL DEFAULT x'';"
    "ALTER TABLE crash_reports ADD COLUMN version BLOB NOT NULL DEFAULT x'';"
    "CREATE TABLE upload_keys (key BLOB PRIMARY KEY, report_id INTEGER NOT NULL, made_utc TEXT NOT NULL)"
    " WITHOUT ROWID;"
    "CREATE INDEX upload_keys_by_age ON upload_keys (made_utc);",
};

std::string MakeInsert(const TableShape& table, bool withId)
{
    std::string sql = std::string("INSERT INTO ") + table.name + " (" + (withId ? "id, " : "") + ListColumns(table) +
                      ") VALUES (";
    const size_t count = table.count + 1 + (withId ? 1 : 0);
    for (size_t i = 1; i <= count; ++i)
        sql += "?" + std::to_string(i) + (i < count ? ", " : ")");
    return sql;
}
static_assert(sizeof kMigrations / sizeof kMigrations[0] == kSchemaVersion, "one migration per schema version");

// A single-value query such as a PRAGMA, as text.
bool QueryText(sqlite3* db, const char* sql, std::string& value, std::string& error)
{
    SqliteStatement statement = PrepareSqlite(db, sql, error);
    if (!statement)
        return false;
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        error = DescribeSqliteError(db, sql);
        return false;
    }
    const unsigned char* text = sqlite3_column_text(statement.get(), 0);
    value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    return true;
}

// Blobs are bound without a copy: the strings outlive the statement's step.
bool BindBlob(sqlite3_stmt* statement, int index, const std::string& bytes)
{
    // A zero-length blob must still be a blob, not NULL: pass a valid pointer.
    return sqlite3_bind_blob64(statement, index, bytes.empty() ? "" : bytes.data(), bytes.size(),
                               SQLITE_STATIC) == SQLITE_OK;
}

// Brings the schema to kSchemaVersion in one transaction, so that a second
// process opening the file at the same time waits and then finds it done.
bool MigrateSchema(sqlite3* db, const std::string& path, bool create, std::string& error)
{
    if (!ExecuteSqlite(db, "BEGIN IMMEDIATE", error))
        return false;
    std::string text;
    if (!QueryText(db, "PRAGMA user_version", text, error))
        return false;  // closing the connection rolls back
    const int version = std::atoi(text.c_str());
    if ((version == 0 && !create) || version < 0 || version > kSchemaVersion) {
        error = "'" + path + "' is not a report database of this server (schema version " + text + ")";
        return false;
    }
    for (int step = version; step < kSchemaVersion; ++step) {
        if (!ExecuteSqlite(db, kMigrations[step], error)) {
            error = "cannot migrate '" + path + "' to schema version " + std::to_string(step + 1) + ": " + error;
            return false;
        }
    }
    const std::string setVersion = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
    return ExecuteSqlite(db, setVersion.c_str(), error) && ExecuteSqlite(db, "COMMIT", error);
}

class SqliteReportStore : public ReportStore
{
public:
    SqliteReportStore(SqliteDatabase db, const std::string& path) : m_db(std::move(db)), m_path(path) {}

    ~SqliteReportStore() override
    {
        if (m_walFile >= 0)
            close(m_walFile);
    }

    std::string Describe() const override { return "SQLite database " + m_path; }

    bool WritesToDataFolder() const override { return true; }

    InsertResult InsertReport(const ReportOrigin& origin, const Report& report, const std::string& rawBody,
                              int64_t& id, std::string& error) override
    {
        // The costly part, compression, before any lock.
        PackedRow packed;
        PackReport(origin, report, rawBody, packed);
        return CommitWithOthers(packed, false, origin.uploadKey, id, error);
    }

    InsertResult InsertCrashReport(const ReportOrigin& origin, const CrashReport& report, const std::string& rawBody,
                                   int64_t& id, std::string& error) override
    {
        PackedRow packed;
        PackCrashReport(origin, report, rawBody, packed);
        return CommitWithOthers(packed, true, origin.uploadKey, id, error);
    }

    bool ListReports(std::vector<ReportSummary>& reports, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SqliteStatement statement = PrepareSqlite(m_db.get(),
            "SELECT id, 0, received_utc, email, description1, packing FROM reports"
            " UNION ALL SELECT id, 1, received_utc, x'', comment, packing FROM crash_reports ORDER BY id",
            error);
        if (!statement)
            return false;
        sqlite3_stmt* s = statement.get();
        reports.clear();
        int rc;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            ReportSummary summary;
            summary.id = sqlite3_column_int64(s, 0);
            summary.kind = sqlite3_column_int(s, 1) != 0 ? ReportKind::Crash : ReportKind::Bug;
            summary.receivedUtc = ColumnText(s, 2);
            summary.email = ColumnText(s, 3);
            if (!UnpackSummaryStart(ColumnText(s, 4), sqlite3_column_int64(s, 5), summary, error))
                return false;
            reports.push_back(std::move(summary));
        }
        if (rc != SQLITE_DONE) {
            error = DescribeSqliteError(m_db.get(), "cannot list the reports");
            return false;
        }
        return true;
    }

    LoadResult LoadReport(int64_t id, StoredReport& stored, std::string& error) override
    {
        PackedRow packed;
        return UnpackLoadedReport(LoadRow(kBugTable, id, packed, error), id, packed, stored, error);
    }

    LoadResult LoadCrashReport(int64_t id, StoredCrashReport& stored, std::string& error) override
    {
        PackedRow packed;
        return UnpackLoadedReport(LoadRow(kCrashTable, id, packed, error), id, packed, stored, error);
    }

    bool RemoveReports(const std::vector<int64_t>& ids, std::string& error) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Deleted pages are zeroed, not left readable in the file's free space.
        if (!ExecuteSqlite(m_db.get(), "PRAGMA secure_delete = ON", error) ||
            !ExecuteSqlite(m_db.get(), "BEGIN IMMEDIATE", error))
            return false;
        SqliteStatement bugs = PrepareSqlite(m_db.get(), "DELETE FROM reports WHERE id = ?1", error);
        SqliteStatement crashes = PrepareSqlite(m_db.get(), "DELETE FROM crash_reports WHERE id = ?1", error);
        bool ok = bugs && crashes;
        for (size_t i = 0; ok && i < ids.size(); ++i) {
            for (sqlite3_stmt* s : {bugs.get(), crashes.get()}) {
                sqlite3_bind_int64(s, 1, ids[i]);
                ok = ok && sqlite3_step(s) == SQLITE_DONE;
                sqlite3_reset(s);
            }
            if (!ok)
                error = DescribeSqliteError(m_db.get(), "cannot remove report " + std::to_string(ids[i]));
        }
        bugs.reset();
        crashes.reset();
        if (!ok || !ExecuteSqlite(m_db.get(), "COMMIT", error)) {
            std::string ignored;
            ExecuteSqlite(m_db.get(), "ROLLBACK", ignored);
            return false;
        }
        // The write-ahead log still holds the removed rows' pages until a
        // checkpoint copies the zeroed pages over them and it starts again.
        std::string ignored;
        ExecuteSqlite(m_db.get(), "PRAGMA wal_checkpoint(TRUNCATE)", ignored);
        return true;
    }

private:
    // One packed report waiting for its commit, on its caller's stack.
    struct PendingInsert
    {
        const PackedRow* packed;
        bool crash;
        const std::string* key;  // "" for none
        bool repeated;           // the key named a stored report
        InsertResult result;
        int64_t id;
        std::string error;
        bool done;
        uint64_t commit;  // its commit's number, once done
    };

    // Group commit: a commit waits for its sync to disk, a millisecond or
    // more in which the other uploads pile up. Whoever finds no commit
    // running commits every report waiting, its own among them, in one
    // transaction; the others wait for that. The sync is taken out of the
    // commit and shared in the same way: while one caller syncs the log,
    // the next commit is already being written, and one sync makes every
    // commit written before it durable. Each caller returns only once its
    // own report is on disk (or has failed).
    InsertResult CommitWithOthers(const PackedRow& packed, bool crash, const std::string& key, int64_t& id,
                                  std::string& error)
    {
        PendingInsert mine = {&packed, crash, &key, false, InsertResult::Failed, 0, std::string(), false, 0};
        std::unique_lock<std::mutex> lock(m_queueMutex);
        m_queue.push_back(&mine);
        while (!mine.done) {
            if (m_committing) {
                m_committed.wait(lock);
                continue;
            }
            m_committing = true;
            std::vector<PendingInsert*> batch;
            batch.swap(m_queue);
            lock.unlock();
            CommitBatch(batch);
            lock.lock();
            ++m_written;
            for (PendingInsert* pending : batch) {
                pending->done = true;
                pending->commit = m_written;
            }
            m_committing = false;
            m_committed.notify_all();
        }
        while (mine.result == InsertResult::Stored && m_synced < mine.commit && m_syncFailed < mine.commit) {
            if (m_syncing) {
                m_committed.wait(lock);
                continue;
            }
            m_syncing = true;
            const uint64_t through = m_written;
            lock.unlock();
            const bool synced = SyncLog();
            lock.lock();
            (synced ? m_synced : m_syncFailed) = through;
            m_syncing = false;
            m_committed.notify_all();
        }
        // A failed sync may have lost any page written before it, whatever
        // a later sync says.
        if (mine.result == InsertResult::Stored && (m_synced < mine.commit || mine.commit <= m_syncFailed)) {
            // Committed, but perhaps never on disk: not a report the client may forget.
            mine.result = InsertResult::Failed;
            mine.error = "cannot write the report to disk";
        }
        id = mine.id;
        error = mine.error;
        // Answered only once the earlier report is on disk too: it may have
        // been in this very commit.
        if (mine.result == InsertResult::Stored && mine.repeated)
            return InsertResult::Repeated;
        return mine.result;
    }

    // Every commit written so far to disk: the write-ahead log holds them
    // all, and syncing any descriptor of it syncs the file.
    bool SyncLog()
    {
        if (m_walFile < 0)
            m_walFile = open((m_path + "-wal").c_str(), O_RDONLY | O_CLOEXEC);
        return m_walFile >= 0 && fdatasync(m_walFile) == 0;
    }

    // All in one transaction; when that fails, each alone, so that one
    // report that cannot be stored fails only its own upload.
    void CommitBatch(const std::vector<PendingInsert*>& batch) noexcept
    {
        try {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (batch.size() > 1 && InsertTogether(batch.data(), batch.size()))
                return;
            for (size_t i = 0; i < batch.size(); ++i)
                InsertTogether(&batch[i], 1);
        } catch (const std::exception& e) {
            // Out of memory: the reports not yet stored fail, nobody waits forever.
            if (sqlite3_get_autocommit(m_db.get()) == 0)
                sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
            for (PendingInsert* pending : batch) {
                if (pending->result != InsertResult::Stored)
                    pending->error = std::string("cannot store the report: ") + e.what();
            }
        }
    }

    // One transaction of count reports; sets each one's result. Under the lock.
    bool InsertTogether(PendingInsert* const* batch, size_t count)
    {
        std::string error;
        InsertResult result = InsertResult::Failed;
        // The commit only writes the log; CommitWithOthers syncs it.
        SyncCommits unsynced(m_db.get(), "NORMAL");
        if (PrepareInserts(error) && ExecuteSqlite(m_db.get(), "BEGIN IMMEDIATE", error)) {
            result = ForgetOldKeys(error) ? InsertResult::Stored : InsertResult::Failed;
            for (size_t i = 0; i < count && result == InsertResult::Stored; ++i)
                result = InsertRow(*batch[i], error);
            if (result == InsertResult::Stored && !ExecuteSqlite(m_db.get(), "COMMIT", error))
                result = (sqlite3_extended_errcode(m_db.get()) & 0xFF) == SQLITE_FULL ? InsertResult::Full
                                                                                       : InsertResult::Failed;
            if (result != InsertResult::Stored) {
                std::string ignored;
                ExecuteSqlite(m_db.get(), "ROLLBACK", ignored);
            }
        }
        for (size_t i = 0; i < count; ++i) {
            batch[i]->result = result;
            if (result != InsertResult::Stored)
                batch[i]->error = error;
        }
        return result == InsertResult::Stored;
    }

    bool PrepareInserts(std::string& error)
    {
        if (!m_insert && !(m_insert = PrepareSqlite(m_db.get(), MakeInsert(kBugTable, false).c_str(), error)))
            return false;
        if (!m_findKey && !(m_findKey = PrepareSqlite(m_db.get(),
                                                      "SELECT report_id FROM upload_keys WHERE key = ?1", error)))
            return false;
        if (!m_insertKey &&
            !(m_insertKey = PrepareSqlite(m_db.get(),
                                          "INSERT INTO upload_keys (key, report_id, made_utc) VALUES (?1, ?2,"
                                          " strftime('%Y-%m-%dT%H:%M:%fZ', 'now'))",
                                          error)))
            return false;
        return m_insertCrash ||
               (m_insertCrash = PrepareSqlite(m_db.get(), MakeInsert(kCrashTable, true).c_str(), error));
    }

    // Keys are kept 8 days, one more than promised. Inside the caller's
    // transaction; the index makes it cheap when there is nothing to drop.
    bool ForgetOldKeys(std::string& error)
    {
        return ExecuteSqlite(m_db.get(),
                             "DELETE FROM upload_keys WHERE made_utc < strftime('%Y-%m-%dT%H:%M:%fZ', 'now', '-8 days')",
                             error);
    }

    // The report stored under key, if any. Inside the caller's transaction,
    // so a report of the same batch counts.
    bool FindKey(const std::string& key, int64_t& id, bool& found, std::string& error)
    {
        sqlite3_stmt* s = m_findKey.get();
        BindBlob(s, 1, key);
        const int rc = sqlite3_step(s);
        found = rc == SQLITE_ROW;
        if (found)
            id = sqlite3_column_int64(s, 0);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            error = DescribeSqliteError(m_db.get(), "cannot look up the upload key");
            return false;
        }
        return true;
    }

    InsertResult RememberKey(const std::string& key, int64_t id, std::string& error)
    {
        sqlite3_stmt* s = m_insertKey.get();
        BindBlob(s, 1, key);
        sqlite3_bind_int64(s, 2, id);
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        return ReadInsertStep(rc, "cannot store the upload key", error);
    }

    // An insert's step as a result. A full disk rolls the insert back whole:
    // nothing half-written.
    InsertResult ReadInsertStep(int rc, const char* what, std::string& error)
    {
        if (rc == SQLITE_DONE)
            return InsertResult::Stored;
        if ((sqlite3_extended_errcode(m_db.get()) & 0xFF) == SQLITE_FULL)
            return InsertResult::Full;
        error = DescribeSqliteError(m_db.get(), what);
        return InsertResult::Failed;
    }

    // Inside the caller's transaction.
    InsertResult InsertRow(PendingInsert& pending, std::string& error)
    {
        const std::string& key = *pending.key;
        bool found = false;
        if (!key.empty() && !FindKey(key, pending.id, found, error))
            return InsertResult::Failed;
        pending.repeated = found;
        if (found)
            return InsertResult::Stored;  // nothing to write; the batch goes on

        InsertResult result = InsertResult::Failed;
        if (!pending.crash) {
            result = StepInsert(m_insert.get(), *pending.packed, 1, error);
            pending.id = sqlite3_last_insert_rowid(m_db.get());
        } else if (TakeNextId(pending.id, error)) {
            sqlite3_bind_int64(m_insertCrash.get(), 1, pending.id);
            result = StepInsert(m_insertCrash.get(), *pending.packed, 2, error);
        }
        if (result == InsertResult::Stored && !key.empty())
            result = RememberKey(key, pending.id, error);
        return result;
    }

    // Binds a packed row from parameter first on, steps and resets. Under
    // the lock.
    InsertResult StepInsert(sqlite3_stmt* s, const PackedRow& packed, int first, std::string& error)
    {
        bool bound = sqlite3_bind_int64(s, first + static_cast<int>(packed.values.size()), packed.packing) == SQLITE_OK;
        for (size_t i = 0; i < packed.values.size() && bound; ++i)
            bound = BindBlob(s, first + static_cast<int>(i), packed.values[i]);
        const int rc = bound ? sqlite3_step(s) : SQLITE_ERROR;
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        return ReadInsertStep(rc, bound ? "cannot store the report" : "cannot bind the report", error);
    }

    LoadResult LoadRow(const TableShape& table, int64_t id, PackedRow& packed, std::string& error)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const std::string sql = "SELECT " + ListColumns(table) + " FROM " + table.name + " WHERE id = ?1";
        SqliteStatement statement = PrepareSqlite(m_db.get(), sql.c_str(), error);
        if (!statement)
            return LoadResult::Failed;
        sqlite3_stmt* s = statement.get();
        sqlite3_bind_int64(s, 1, id);
        const int rc = sqlite3_step(s);
        if (rc == SQLITE_DONE)
            return LoadResult::NotFound;
        if (rc != SQLITE_ROW) {
            error = DescribeSqliteError(m_db.get(), "cannot load report " + std::to_string(id));
            return LoadResult::Failed;
        }
        packed.values.resize(table.count);
        for (size_t i = 0; i < table.count; ++i)
            packed.values[i] = ColumnText(s, static_cast<int>(i));
        packed.packing = sqlite3_column_int64(s, static_cast<int>(table.count));
        return LoadResult::Found;
    }

    // The next id of either kind: after the bug reports' sequence (which
    // never goes back, and which every crash report moves on) and after every
    // crash report. Inside the caller's transaction.
    bool TakeNextId(int64_t& id, std::string& error)
    {
        sqlite3* db = m_db.get();
        SqliteStatement next = PrepareSqlite(db,
            "SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'reports'), 0),"
            " coalesce((SELECT max(id) FROM reports), 0), coalesce((SELECT max(id) FROM crash_reports), 0)) + 1",
            error);
        if (!next || sqlite3_step(next.get()) != SQLITE_ROW) {
            error = DescribeSqliteError(db, "cannot choose the crash report's id");
            return false;
        }
        id = sqlite3_column_int64(next.get(), 0);

        SqliteStatement update = PrepareSqlite(db, "UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'reports'", error);
        SqliteStatement insert =
            PrepareSqlite(db, "INSERT INTO sqlite_sequence (name, seq) VALUES ('reports', ?1)", error);
        if (!update || !insert)
            return false;
        sqlite3_bind_int64(update.get(), 1, id);
        if (sqlite3_step(update.get()) != SQLITE_DONE) {
            error = DescribeSqliteError(db, "cannot move the id sequence on");
            return false;
        }
        if (sqlite3_changes(db) == 0) {
            // No bug report yet: the sequence starts here.
            sqlite3_bind_int64(insert.get(), 1, id);
            if (sqlite3_step(insert.get()) != SQLITE_DONE) {
                error = DescribeSqliteError(db, "cannot start the id sequence");
                return false;
            }
        }
        return true;
    }

    SqliteDatabase m_db;
    std::string m_path;
    std::mutex m_mutex;  // one statement on the connection at a time
    SqliteStatement m_insert;
    SqliteStatement m_insertCrash;
    SqliteStatement m_findKey;
    SqliteStatement m_insertKey;
    // The reports waiting for the next commit, and whether one is running.
    std::mutex m_queueMutex;
    std::condition_variable m_committed;
    std::vector<PendingInsert*> m_queue;
    bool m_committing = false;
    uint64_t m_written = 0;     // commits written to the log, numbered from 1
    uint64_t m_synced = 0;      // ... of which on disk
    uint64_t m_syncFailed = 0;  // ... of which a sync failed
    bool m_syncing = false;
    int m_walFile = -1;
};

}  // namespace

std::unique_ptr<ReportStore> OpenSqliteReportStore(const std::string& dataDir, bool create, std::string& error)
{
    const std::string path = dataDir + "/" + kDatabaseFileName;
    struct stat info;
    if (!create && stat(path.c_str(), &info) != 0) {
        error = "no report database in '" + dataDir + "' (it is made by: serve --data " + dataDir + ")";
        return nullptr;
    }

    sqlite3* raw = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    SqliteDatabase db(raw);
    if (rc != SQLITE_OK) {
        error = "cannot open '" + path + "': " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        return nullptr;
    }
    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), 10000);

    // Reports are mostly large blobs: big pages halve the time an insert
    // takes. Only a new, empty database takes the setting.
    if (create && !ExecuteSqlite(db.get(), "PRAGMA page_size = 65536", error))
        return nullptr;

    // WAL: readers (list, show) never block the server; FULL: a commit is on
    // disk before the 201 goes out, also across a power loss.
    std::string mode;
    if (!QueryText(db.get(), "PRAGMA journal_mode = WAL", mode, error))
        return nullptr;
    if (mode != "wal") {
        error = "cannot switch '" + path + "' to WAL mode (journal mode is " + mode + ")";
        return nullptr;
    }
    if (!ExecuteSqlite(db.get(), "PRAGMA synchronous = FULL", error))
        return nullptr;

    std::string version;
    if (!QueryText(db.get(), "PRAGMA user_version", version, error))
        return nullptr;
    if (version != std::to_string(kSchemaVersion) && !MigrateSchema(db.get(), path, create, error))
        return nullptr;
    return std::unique_ptr<ReportStore>(new SqliteReportStore(std::move(db), path));
}
