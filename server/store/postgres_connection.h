// What both PostgreSQL stores (the reports, and the maintainers' interface
// beside them) do with libpq: connect, run a command, read binary results,
// and share a few connections between threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "server/store/postgres_handles.h"

PostgresConnection ConnectToPostgres(const std::string& url, std::string& error);

// "PostgreSQL database NAME on HOST:PORT" (never a password).
std::string DescribePostgresDatabase(PGconn* connection);

// libpq's message made one line.
std::string MakeOneLine(const char* message);

bool IsPostgresSuccess(const PostgresResult& result);

// what, a colon and the server's message (the result's, or the connection's).
std::string DescribePostgresFailure(PGconn* connection, const PostgresResult& result, const std::string& what);

// A command without parameters; on failure error names the command.
bool ExecutePostgres(PGconn* connection, const char* sql, std::string& error);

// Values of a binary result.
std::string GetPostgresBytes(const PGresult* result, int row, int column);
int64_t GetPostgresInt64(const PGresult* result, int row, int column);
int32_t GetPostgresInt32(const PGresult* result, int row, int column);

// Parameters sent in binary: bytes as they are (bytea, or text already in
// the database's encoding) and bigints.
class PostgresParams
{
public:
    PostgresParams& AddBytes(const std::string& bytes);
    PostgresParams& AddInt64(int64_t value);

    int Count() const { return static_cast<int>(m_values.size()); }
    const char* const* Values() const;
    const int* Lengths() const { return m_lengths.data(); }
    const int* Formats() const { return m_formats.data(); }

private:
    std::vector<std::string> m_values;
    mutable std::vector<const char*> m_pointers;
    std::vector<int> m_lengths;
    std::vector<int> m_formats;
};

// One statement with binary parameters and results; on failure error is
// what, then the server's message (result kept for its details).
bool RunPostgres(PGconn* connection, const char* sql, const PostgresParams& params, PostgresResult& result,
                 std::string& error, const char* what = "query failed");

// Connections not in use by any thread; a thread takes one (or a new one)
// for a statement or a transaction and gives it back.
class PostgresPool
{
public:
    PostgresPool(const std::string& url, PostgresConnection first);

    PostgresConnection Take(std::string& error);
    // RunPostgres on a connection of the pool.
    bool Run(const char* sql, const PostgresParams& params, PostgresResult& result, std::string& error,
             const char* what = "query failed");
    // A broken connection, or one left inside a transaction, is dropped.
    void GiveBack(PostgresConnection connection);

private:
    const std::string m_url;
    std::mutex m_mutex;
    std::vector<PostgresConnection> m_idle;
};
