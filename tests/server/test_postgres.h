// A throwaway PostgreSQL 15 cluster for the tests of one process, and the
// two stores as a test parameter.
#pragma once

#include <string>
#include <vector>

// The first call makes the cluster in a temporary folder (initdb, then
// pg_ctl with a Unix socket there and no TCP port), as the postgres user
// when the tests run as root. It is stopped and removed when the process
// ends, and by a watcher when the process dies without ending. Each call
// returns the URL of a new, empty database; "" with error on failure.
std::string MakeTestDatabase(std::string& error);

// Before the first MakeTestDatabase: a cluster that syncs its commits to
// disk as a production one does (for benchmarks; tests need not wait).
void UseDurableTestCluster();

// The stores every storage and command test runs against.
enum class StoreKind
{
    Sqlite,
    Postgres
};

const StoreKind kBothStores[] = {StoreKind::Sqlite, StoreKind::Postgres};

// For INSTANTIATE_TEST_SUITE_P: "Sqlite", "Postgres".
std::string NameStoreKind(StoreKind kind);

// Where a test's reports go: the data folder and, for PostgreSQL, a fresh
// database.
struct TestStore
{
    StoreKind kind = StoreKind::Sqlite;
    std::string dataDir;
    std::string databaseUrl;  // empty for SQLite

    // serve's options: --data, and --database for PostgreSQL.
    std::vector<std::string> ServeArgs() const;
    // list, show, export, prune and forget's: --data or --database.
    std::vector<std::string> ReadArgs() const;
};

// Fills store for kind, making a database when needed; false with error.
bool PrepareTestStore(StoreKind kind, const std::string& dataDir, TestStore& store, std::string& error);
