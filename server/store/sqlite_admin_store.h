// The maintainers' store of the embedded engine.
#pragma once

#include <memory>
#include <string>

#include "server/store/admin_store.h"

// The store in dataDir/reports.db (made with the report tables when
// missing; the data folder must exist). Removing a report (prune, forget)
// removes its line, search text and audit list in the same transaction,
// from any process. Thread-safe.
std::unique_ptr<AdminStore> OpenSqliteAdminStore(const std::string& dataDir, std::string& error);
