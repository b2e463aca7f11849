#include "server/store/report_store.h"

const char kDatabaseFileName[] = "reports.db";

const char* NameReportKind(ReportKind kind)
{
    return kind == ReportKind::Crash ? "crash" : "bug";
}

