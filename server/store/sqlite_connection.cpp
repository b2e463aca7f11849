#include "server/store/sqlite_connection.h"

#include "server/store/report_store.h"

std::string DescribeSqliteError(sqlite3* db, const std::string& what)
{
    return what + ": " + sqlite3_errmsg(db);
}

bool ExecuteSqlite(sqlite3* db, const std::string& sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = sql.substr(0, 40) + "...: " + (message != nullptr ? message : "failed");
    sqlite3_free(message);
    return false;
}

SqliteStatement PrepareSqlite(sqlite3* db, const std::string& sql, std::string& error)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        error = DescribeSqliteError(db, "cannot prepare a query");
        sqlite3_finalize(statement);
        return SqliteStatement();
    }
    return SqliteStatement(statement);
}

SyncCommits::SyncCommits(sqlite3* db, const char* level) : m_db(db)
{
    std::string ignored;
    ExecuteSqlite(m_db, std::string("PRAGMA synchronous = ") + level, ignored);
}

SyncCommits::~SyncCommits()
{
    std::string ignored;
    ExecuteSqlite(m_db, "PRAGMA synchronous = FULL", ignored);
}

void BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    // As a blob: the bytes as stored, without the copy that adding a
    // terminator to a large blob would cost.
    const void* bytes = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return bytes != nullptr ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
}

SqliteDatabase OpenSqliteReportsFile(const std::string& dataDir, std::string& error)
{
    const std::string path = dataDir + "/" + kDatabaseFileName;
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    SqliteDatabase db(raw);
    if (rc != SQLITE_OK) {
        error = "cannot open '" + path + "': " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        return nullptr;
    }
    sqlite3_busy_timeout(db.get(), 10000);
    if (!ExecuteSqlite(db.get(), "PRAGMA synchronous = FULL", error))
        return nullptr;
    return db;
}

sqlite3_stmt* SqliteStatementCache::Get(const char* sql, std::string& error)
{
    SqliteStatement& kept = m_statements[sql];
    if (!kept) {
        kept = PrepareSqlite(m_db, sql, error);
        if (!kept) {
            m_statements.erase(sql);
            return nullptr;
        }
    }
    sqlite3_reset(kept.get());
    sqlite3_clear_bindings(kept.get());
    return kept.get();
}

bool RunSqliteTransaction(sqlite3* db, const std::function<bool()>& work, std::string& error)
{
    if (!ExecuteSqlite(db, "BEGIN IMMEDIATE", error))
        return false;
    if (work() && ExecuteSqlite(db, "COMMIT", error))
        return true;
    std::string ignored;
    ExecuteSqlite(db, "ROLLBACK", ignored);
    return false;
}
