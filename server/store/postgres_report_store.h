// The shared store: a PostgreSQL database that several servers use at once.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "server/store/postgres_handles.h"
#include "server/store/report_store.h"

std::unique_ptr<ReportStore> OpenPostgresReportStore(const std::string& url, bool create, std::string& error);

// For a store whose tables sit beside the reports: the report tables made
// or brought up to date first (the other tables' triggers name them), then
// a connection on which make runs in one transaction under the advisory
// lock (servers starting together make them one at a time), given the
// reports' store for a step that reads them. Null, with error "cannot make
// WHAT: ...", on failure.
PostgresConnection MakeTablesBesideReports(const std::string& url, const char* lock,
                                           const std::function<bool(PGconn*, ReportStore&, std::string&)>& make,
                                           const char* what, std::string& error);
