// The shared store: a PostgreSQL database that several servers use at once.
#pragma once

#include <memory>
#include <string>

#include "server/store/report_store.h"

std::unique_ptr<ReportStore> OpenPostgresReportStore(const std::string& url, bool create, std::string& error);
