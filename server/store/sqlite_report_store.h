// The embedded store: DIR/reports.db, one SQLite file in WAL mode.
#pragma once

#include <memory>
#include <string>

#include "server/report_store.h"

std::unique_ptr<ReportStore> OpenSqliteStore(const std::string& dataDir, bool create, std::string& error);
