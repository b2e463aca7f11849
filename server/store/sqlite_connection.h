// What both SQLite stores (the reports and the maintainers' interface) do
// on their connections, with errors as one line.
#pragma once

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

// A prepared statement, or none with error.
SqliteStatement PrepareSqlite(sqlite3* db, const std::string& sql, std::string& error);

// Binds text (or bytes) as it is; reads a column's bytes whole.
void BindText(sqlite3_stmt* statement, int index, const std::string& text);
std::string ColumnText(sqlite3_stmt* statement, int column);

// reports.db in dataDir, opened for a store beside the reports once their
// own store has made it: read-write, waiting out other writers, commits
// synced. Null with error when it cannot be opened.
SqliteDatabase OpenSqliteReportsFile(const std::string& dataDir, std::string& error);
