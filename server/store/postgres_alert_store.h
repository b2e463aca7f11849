// The alert store of the shared engine, and what the crash store calls
// inside its own transaction.
#pragma once

#include <memory>
#include <string>

#include "server/store/alert_store.h"
#include "server/store/postgres_handles.h"

// Makes the rule and outbox tables when missing (inside the caller's
// transaction, which holds the schema lock).
bool CreatePostgresAlertTables(PGconn* connection, std::string& error);

// Inside the transaction that saved a crash analysis, with the group's row
// locked: counts the report into its group's alert state and queues the
// event it raises, if any, for every rule that asks for it.
bool QueuePostgresCrashAlert(PGconn* connection, const CrashAlertFacts& facts, std::string& error);

// The alert tables in the PostgreSQL database at url, shared by every
// server using it: each claims its deliveries, so each is sent once.
// Thread-safe.
std::unique_ptr<AlertStore> OpenPostgresAlertStore(const std::string& url, std::string& error);
