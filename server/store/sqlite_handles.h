// Owning handles for SQLite connections and statements.
#pragma once

#include <sqlite3.h>

#include <memory>

struct SqliteCloser
{
    // _v2: a connection with statements still open closes when they finish
    // instead of failing and leaking.
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

struct SqliteFinalizer
{
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

typedef std::unique_ptr<sqlite3, SqliteCloser> SqliteDatabase;
typedef std::unique_ptr<sqlite3_stmt, SqliteFinalizer> SqliteStatement;
