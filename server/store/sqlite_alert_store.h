// The alert store of the embedded engine, and what the crash store calls
// inside its own transaction.
#pragma once

#include <memory>
#include <string>

#include "server/store/alert_store.h"
#include "server/store/sqlite_handles.h"

// Makes the rule and outbox tables when missing (inside the caller's
// transaction).
bool CreateSqliteAlertTables(sqlite3* db, std::string& error);

// Inside the transaction that saved a crash analysis: counts the report
// into its group's alert state and queues the event it raises, if any,
// for every rule that asks for it.
bool QueueSqliteCrashAlert(sqlite3* db, const CrashAlertFacts& facts, std::string& error);

// The alert tables in dataDir/reports.db. Thread-safe.
std::unique_ptr<AlertStore> OpenSqliteAlertStore(const std::string& dataDir, std::string& error);
