#include "tests/server/test_postgres.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

const char kDefaultBinDir[] = "/usr/lib/postgresql/15/bin";

bool g_durable = false;

struct Cluster
{
    std::string folder;  // the data directory's parent, also the socket's folder
    std::string binDir;
    std::string runAs;   // "runuser -u postgres -- " when root
    std::string error;

    ~Cluster() { Remove(); }

    // Immediate: the databases are thrown away anyway.
    std::string MakeStopCommand() const
    {
        return runAs + binDir + "/pg_ctl -D " + folder + "/data -s -m immediate stop >/dev/null 2>&1; rm -rf " + folder;
    }

    void Remove()
    {
        if (!folder.empty() && std::system(MakeStopCommand().c_str()) != 0)
            std::fprintf(stderr, "test_postgres: cannot remove %s\n", folder.c_str());
        folder.clear();
    }
};

bool RunCommand(const std::string& command, const std::string& what, std::string& error)
{
    if (std::system(command.c_str()) == 0)
        return true;
    error = what + " failed: " + command;
    return false;
}

bool StartCluster(Cluster& cluster)
{
    const char* binDir = getenv("BREVORA_PG_BINDIR");
    cluster.binDir = binDir != nullptr ? binDir : kDefaultBinDir;
    char folder[] = "/tmp/brevora-pg-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        cluster.error = "cannot make a temporary folder for PostgreSQL";
        return false;
    }
    cluster.folder = folder;
    if (geteuid() == 0) {
        // PostgreSQL refuses to run as root.
        const passwd* user = getpwnam("postgres");
        if (user == nullptr || chown(folder, user->pw_uid, user->pw_gid) != 0) {
            cluster.error = "running as root, but there is no postgres user to run PostgreSQL as";
            return false;
        }
        cluster.runAs = "runuser -u postgres -- ";
    }

    // The watcher ends with this process, however it ends, and takes the
    // cluster with it; setsid keeps it out of a test runner's process group.
    const std::string watcher = "setsid sh -c 'while kill -0 " + std::to_string(getpid()) +
                                " 2>/dev/null; do sleep 1; done; " + cluster.MakeStopCommand() +
                                "' </dev/null >/dev/null 2>&1 &";
    const std::string& f = cluster.folder;
    // No fsync for tests: their databases never outlive the machine's uptime.
    const std::string fsync = g_durable ? "" : " -F";
    return RunCommand(cluster.runAs + cluster.binDir + "/initdb -D " + f + "/data -A trust -U postgres -N" +
                          " --no-instructions >" + f + "/initdb.log 2>&1",
                      "initdb", cluster.error) &&
           RunCommand(watcher, "the cluster's watcher", cluster.error) &&
           RunCommand(cluster.runAs + cluster.binDir + "/pg_ctl -D " + f + "/data -l " + f + "/server.log -w -s" +
                          " -o \"-k " + f + " -c listen_addresses=" + fsync + " -c max_connections=200\" start",
                      "pg_ctl start", cluster.error);
}

std::string MakeUrl(const std::string& folder, const std::string& database)
{
    return "postgresql:///" + database + "?host=" + folder + "&user=postgres";
}

}  // namespace

std::string MakeTestDatabase(std::string& error)
{
    static Cluster s_cluster;
    static std::once_flag s_started;
    static std::atomic<int> s_next(0);
    // A cluster that the test run started for all its processes
    // (scripts/test-postgres.sh), or else one of this process's own.
    const char* shared = getenv("BREVORA_TEST_POSTGRES_DIR");
    std::string folder = shared != nullptr && !g_durable ? shared : "";
    if (folder.empty()) {
        std::call_once(s_started, [] {
            if (!StartCluster(s_cluster))
                s_cluster.Remove();
        });
        folder = s_cluster.folder;
    }
    if (folder.empty()) {
        error = s_cluster.error;
        return "";
    }

    // Named after the process: in a shared cluster, other test processes
    // make theirs beside it.
    const std::string name = "reports_" + std::to_string(getpid()) + "_" + std::to_string(++s_next);
    PGconn* connection = PQconnectdb(MakeUrl(folder, "postgres").c_str());
    PGresult* result = PQstatus(connection) == CONNECTION_OK
                           ? PQexec(connection, ("CREATE DATABASE " + name).c_str())
                           : nullptr;
    const bool made = result != nullptr && PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!made)
        error = std::string("cannot make a test database: ") + PQerrorMessage(connection);
    PQclear(result);
    PQfinish(connection);
    return made ? MakeUrl(folder, name) : "";
}

void UseDurableTestCluster()
{
    g_durable = true;
}

std::string NameStoreKind(StoreKind kind)
{
    return kind == StoreKind::Postgres ? "Postgres" : "Sqlite";
}

std::vector<std::string> TestStore::ServeArgs() const
{
    std::vector<std::string> args = {"--data", dataDir};
    if (!databaseUrl.empty()) {
        args.push_back("--database");
        args.push_back(databaseUrl);
    }
    return args;
}

std::vector<std::string> TestStore::ReadArgs() const
{
    if (databaseUrl.empty())
        return {"--data", dataDir};
    return {"--database", databaseUrl};
}

bool PrepareTestStore(StoreKind kind, const std::string& dataDir, TestStore& store, std::string& error)
{
    store.kind = kind;
    store.dataDir = dataDir;
    store.databaseUrl.clear();
    if (kind == StoreKind::Sqlite)
        return true;
    store.databaseUrl = MakeTestDatabase(error);
    return !store.databaseUrl.empty();
}
