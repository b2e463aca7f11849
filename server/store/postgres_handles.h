// Owning handles for libpq connections and results.
#pragma once

#include <libpq-fe.h>

#include <memory>

struct PostgresCloser
{
    void operator()(PGconn* connection) const { PQfinish(connection); }
};

struct PostgresResultClearer
{
    void operator()(PGresult* result) const { PQclear(result); }
};

typedef std::unique_ptr<PGconn, PostgresCloser> PostgresConnection;
typedef std::unique_ptr<PGresult, PostgresResultClearer> PostgresResult;
