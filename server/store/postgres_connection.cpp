#include "server/store/postgres_connection.h"

#include <endian.h>

#include <cstring>
#include <utility>

namespace {

void IgnoreNotice(void*, const char*)
{
}

}  // namespace

PostgresConnection ConnectToPostgres(const std::string& url, std::string& error)
{
    PostgresConnection connection(PQconnectdb(url.c_str()));
    if (!connection || PQstatus(connection.get()) != CONNECTION_OK) {
        error = "cannot connect to PostgreSQL: " +
                (connection ? MakeOneLine(PQerrorMessage(connection.get())) : std::string("out of memory"));
        return PostgresConnection();
    }
    PQsetNoticeProcessor(connection.get(), IgnoreNotice, nullptr);
    return connection;
}

std::string DescribePostgresDatabase(PGconn* connection)
{
    const std::string host = PQhost(connection) != nullptr ? PQhost(connection) : "";
    return std::string("PostgreSQL database ") + PQdb(connection) + " on " + host + ":" + PQport(connection);
}

// libpq's messages end in a line feed and may span lines.
std::string MakeOneLine(const char* message)
{
    std::string line = message != nullptr ? message : "";
    for (char& c : line) {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

bool IsPostgresSuccess(const PostgresResult& result)
{
    const ExecStatusType status = PQresultStatus(result.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string DescribePostgresFailure(PGconn* connection, const PostgresResult& result, const std::string& what)
{
    const char* message = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(connection);
    return what + ": " + MakeOneLine(message != nullptr && *message != '\0' ? message : PQerrorMessage(connection));
}

bool ExecutePostgres(PGconn* connection, const char* sql, std::string& error)
{
    PostgresResult result(PQexec(connection, sql));
    if (IsPostgresSuccess(result))
        return true;
    error = DescribePostgresFailure(connection, result, std::string(sql).substr(0, 40) + "...");
    return false;
}

std::string GetPostgresBytes(const PGresult* result, int row, int column)
{
    return std::string(PQgetvalue(result, row, column), static_cast<size_t>(PQgetlength(result, row, column)));
}

// 8 bytes, most significant first.
int64_t GetPostgresInt64(const PGresult* result, int row, int column)
{
    uint64_t value = 0;
    if (PQgetlength(result, row, column) == sizeof value)
        std::memcpy(&value, PQgetvalue(result, row, column), sizeof value);
    return static_cast<int64_t>(be64toh(value));
}

// 4 bytes, most significant first.
int32_t GetPostgresInt32(const PGresult* result, int row, int column)
{
    uint32_t value = 0;
    if (PQgetlength(result, row, column) == sizeof value)
        std::memcpy(&value, PQgetvalue(result, row, column), sizeof value);
    return static_cast<int32_t>(be32toh(value));
}

PostgresParams& PostgresParams::AddBytes(const std::string& bytes)
{
    m_values.push_back(bytes);
    m_lengths.push_back(static_cast<int>(bytes.size()));
    m_formats.push_back(1);
    return *this;
}

PostgresParams& PostgresParams::AddInt64(int64_t value)
{
    const uint64_t big = htobe64(static_cast<uint64_t>(value));
    m_values.push_back(std::string(reinterpret_cast<const char*>(&big), sizeof big));
    m_lengths.push_back(static_cast<int>(sizeof big));
    m_formats.push_back(1);
    return *this;
}

const char* const* PostgresParams::Values() const
{
    m_pointers.clear();
    for (const std::string& value : m_values)
        m_pointers.push_back(value.data());
    return m_pointers.data();
}

PostgresPool::PostgresPool(const std::string& url, PostgresConnection first) : m_url(url)
{
    m_idle.push_back(std::move(first));
}

PostgresConnection PostgresPool::Take(std::string& error)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_idle.empty()) {
            PostgresConnection connection = std::move(m_idle.back());
            m_idle.pop_back();
            return connection;
        }
    }
    return ConnectToPostgres(m_url, error);
}

void PostgresPool::GiveBack(PostgresConnection connection)
{
    if (PQstatus(connection.get()) != CONNECTION_OK || PQtransactionStatus(connection.get()) != PQTRANS_IDLE)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_idle.push_back(std::move(connection));
}

bool RunPostgres(PGconn* connection, const char* sql, const PostgresParams& params, PostgresResult& result,
                 std::string& error, const char* what)
{
    result.reset(PQexecParams(connection, sql, params.Count(), nullptr, params.Values(), params.Lengths(),
                              params.Formats(), 1));
    if (IsPostgresSuccess(result))
        return true;
    error = DescribePostgresFailure(connection, result, what);
    return false;
}

bool PostgresPool::Run(const char* sql, const PostgresParams& params, PostgresResult& result, std::string& error,
                       const char* what)
{
    PostgresConnection connection = Take(error);
    if (!connection)
        return false;
    const bool done = RunPostgres(connection.get(), sql, params, result, error, what);
    GiveBack(std::move(connection));
    return done;
}
