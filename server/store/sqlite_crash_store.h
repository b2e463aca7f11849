// The crash store of the embedded engine.
#pragma once

#include <memory>
#include <string>

#include "server/store/crash_store.h"

// The crash tables in dataDir/reports.db (made with the report tables when
// missing). Thread-safe.
std::unique_ptr<CrashStore> OpenSqliteCrashStore(const std::string& dataDir, std::string& error);
