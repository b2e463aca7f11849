// What both SQLite stores (the reports and the maintainers' interface) do
// on their connections, with errors as one line.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "server/store/sqlite_handles.h"

// "what: the connection's last error"
std::string DescribeSqliteError(sqlite3* db, const std::string& what);

// Runs statements that return no rows.
bool ExecuteSqlite(sqlite3* db, const std::string& sql, std::string& error);

// Sets the connection's commit syncing for the guard's life, then back to
// FULL, the connection's own.
class SyncCommits
{
public:
    SyncCommits(sqlite3* db, const char* level);
    ~SyncCommits();
    SyncCommits(const SyncCommits&) = delete;
    SyncCommits& operator=(const SyncCommits&) = delete;

private:
    sqlite3* m_db;
};

// Runs work between BEGIN IMMEDIATE and COMMIT (the write lock taken
// first), rolling back when work or the commit fails.
bool RunSqliteTransaction(sqlite3* db, const std::function<bool()>& work, std::string& error);

// A prepared statement, or none with error.
SqliteStatement PrepareSqlite(sqlite3* db, const std::string& sql, std::string& error);

// Binds text (or bytes) as it is; reads a column's bytes whole.
void BindText(sqlite3_stmt* statement, int index, const std::string& text);
std::string ColumnText(sqlite3_stmt* statement, int column);

// reports.db in dataDir, opened for a store beside the reports once their
// own store has made it: read-write, waiting out other writers, commits
// synced. Null with error when it cannot be opened.
SqliteDatabase OpenSqliteReportsFile(const std::string& dataDir, std::string& error);

// Runs sql with bind applied, handing each row to row; false with error
// (what, then the database's message) when anything fails.
template <typename Bind, typename Row>
bool QuerySqliteRows(sqlite3* db, const char* sql, Bind bind, Row row, std::string& error,
                     const char* what = "query failed")
{
    SqliteStatement s = PrepareSqlite(db, sql, error);
    if (!s)
        return false;
    bind(s.get());
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        row(s.get());
    if (rc != SQLITE_DONE) {
        error = DescribeSqliteError(db, what);
        return false;
    }
    return true;
}

template <typename Bind>
bool RunSqliteStatement(sqlite3* db, const char* sql, Bind bind, std::string& error, const char* what = "query failed")
{
    return QuerySqliteRows(db, sql, bind, [](sqlite3_stmt*) {}, error, what);
}

// Statements of one connection kept prepared from one call to the next,
// for a store that runs the same few for every report; used under the
// store's lock. Keyed by the text's address: for literals only.
class SqliteStatementCache
{
public:
    explicit SqliteStatementCache(sqlite3* db) : m_db(db) {}

    sqlite3* Database() const { return m_db; }
    // The statement of sql, reset and unbound; null with error.
    sqlite3_stmt* Get(const char* sql, std::string& error);

private:
    sqlite3* m_db;
    std::map<const char*, SqliteStatement> m_statements;
};

// QuerySqliteRows and RunSqliteStatement on a kept statement.
template <typename Bind, typename Row>
bool QuerySqliteRows(SqliteStatementCache& cache, const char* sql, Bind bind, Row row, std::string& error,
                     const char* what = "query failed")
{
    sqlite3_stmt* s = cache.Get(sql, error);
    if (s == nullptr)
        return false;
    bind(s);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        row(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) {
        error = DescribeSqliteError(cache.Database(), what);
        return false;
    }
    return true;
}

template <typename Bind>
bool RunSqliteStatement(SqliteStatementCache& cache, const char* sql, Bind bind, std::string& error,
                        const char* what = "query failed")
{
    return QuerySqliteRows(cache, sql, bind, [](sqlite3_stmt*) {}, error, what);
}
