// A stored report's fields by name, as export --all writes them, one file
// each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/store/report_columns.h"
#include "server/store/report_store.h"

// A report's fields in the order of kStoredFieldNames (of a crash report:
// kStoredCrashFieldNames), byte for byte.
std::vector<std::string> ListStoredFields(const StoredReport& stored);
std::vector<std::string> ListStoredFields(const StoredCrashReport& stored);

// Calls visit with each report's id, kind and fields (ListStoredFields),
// oldest report first; one report is in memory at a time. A visit that
// returns false stops the walk with its error.
typedef std::function<bool(int64_t id, ReportKind kind, const std::vector<std::string>& fields, std::string& error)>
    StoredFieldsVisitor;
bool VisitStoredFields(ReportStore& store, const StoredFieldsVisitor& visit, std::string& error);
