// The maintainers' store of the shared engine.
#pragma once

#include <memory>
#include <string>

#include "server/store/admin_store.h"

// The same tables in the PostgreSQL database at url (made with the report
// tables when missing), shared by every server using that database: each
// sees the others' accounts, sessions, triage and reports. Removing a
// report removes its line and audit list in the same transaction, as on
// SQLite. Thread-safe.
std::unique_ptr<AdminStore> OpenPostgresAdminStore(const std::string& url, std::string& error);
