// The crash store of the shared engine.
#pragma once

#include <memory>
#include <string>

#include "server/store/crash_store.h"

// The crash tables in the PostgreSQL database at url (made with the report
// tables when missing), shared by every server using that database: one
// set of groups, whose counts lose no report saved by any of them.
// Thread-safe.
std::unique_ptr<CrashStore> OpenPostgresCrashStore(const std::string& url, std::string& error);
