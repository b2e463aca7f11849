// The embedded store: DIR/reports.db, one SQLite file in WAL mode.
#pragma once

#include <memory>
#include <string>

#include "server/store/report_store.h"

std::unique_ptr<ReportStore> OpenSqliteReportStore(const std::string& dataDir, bool create, std::string& error);
