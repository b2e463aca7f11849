// The two tables as both stores hold them: the columns after the id, and a
// report packed into them and back. Attachments and long texts are zstd
// frames (the packing column says which); the raw body is left empty when
// the fields rebuild it exactly. Column names are kStoredFieldNames and
// kStoredCrashFieldNames, in table order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/store/report_store.h"

// The column names after the id, in table order: the stored fields as
// export --all writes them, one file each.
extern const char* const kStoredFieldNames[];
extern const size_t kStoredFieldCount;
extern const char* const kStoredCrashFieldNames[];
extern const size_t kStoredCrashFieldCount;

// Column indexes of the bug reports' table (reports), after the id.
enum ReportColumn
{
    COLUMN_RECEIVED_UTC,
    COLUMN_PEER,
    COLUMN_USER_AGENT,
    COLUMN_EMAIL,
    COLUMN_DESCRIPTION1,
    COLUMN_DESCRIPTION2,
    COLUMN_DESCRIPTION3,
    COLUMN_SYSTEM_INFO,
    COLUMN_ATTACHMENT_NAME,
    COLUMN_ATTACHMENT,
    COLUMN_ATTACHMENT_STATE,
    COLUMN_ATTACHMENT_LOG_NAME,
    COLUMN_ATTACHMENT_LOG,
    COLUMN_ATTACHMENT_LOG_STATE,
    COLUMN_RAW_BODY,
    COLUMN_COMPONENT,
    COLUMN_VERSION,
    COLUMN_CODE_PAGE,
    REPORT_COLUMN_COUNT
};

// The crash reports' table (crash_reports).
enum CrashColumn
{
    CRASH_COLUMN_RECEIVED_UTC,
    CRASH_COLUMN_PEER,
    CRASH_COLUMN_USER_AGENT,
    CRASH_COLUMN_COMMENT,
    CRASH_COLUMN_DUMP_NAME,
    CRASH_COLUMN_DUMP,
    CRASH_COLUMN_DUMP_STATE,
    CRASH_COLUMN_LOG_NAME,
    CRASH_COLUMN_LOG,
    CRASH_COLUMN_LOG_STATE,
    CRASH_COLUMN_CONF_NAME,
    CRASH_COLUMN_CONF,
    CRASH_COLUMN_CONF_STATE,
    CRASH_COLUMN_RAW_BODY,
    CRASH_COLUMN_VERSION,
    CRASH_COLUMN_COUNT
};

// One row's values in table order, and after them the packing: bit
// (1 << column) set when that column holds a zstd frame. Rows of schema
// version 2 and before have 0.
// Also in the packing of a bug report: its record 5 had no component line
// (an older reporter's body), for rebuilding it.
const int64_t kPackingWithoutComponentLine = int64_t{1} << 62;
// Its record 5 ended with the version's and the code page's lines too (of a
// crash report: its body had the version record). Older rows have neither.
const int64_t kPackingWithOrigin = int64_t{1} << 61;

// A table's name and its columns after the id, in a PackedRow's order.
struct TableShape
{
    const char* name;
    const char* const* columns;
    size_t count;
};

extern const TableShape kBugTable;    // reports
extern const TableShape kCrashTable;  // crash_reports

// "a, b, c, packing"
std::string ListColumns(const TableShape& table);

struct PackedRow
{
    std::vector<std::string> values;
    int64_t packing = 0;
};

// Compress and lay out a report. Thread-safe; meant to run outside any lock
// on the store.
void PackReport(const ReportOrigin& origin, const Report& report, const std::string& rawBody, PackedRow& packed);
void PackCrashReport(const ReportOrigin& origin, const CrashReport& report, const std::string& rawBody,
                     PackedRow& packed);

// The reverse; rebuild the raw body when it was not kept.
bool UnpackReport(PackedRow& packed, StoredReport& stored, std::string& error);
bool UnpackCrashReport(PackedRow& packed, StoredCrashReport& stored, std::string& error);

// A loaded row into stored, the error naming the report; loaded is what the
// store's lookup found, returned as it is unless Found.
LoadResult UnpackLoadedReport(LoadResult loaded, int64_t id, PackedRow& packed, StoredReport& stored,
                              std::string& error);
LoadResult UnpackLoadedReport(LoadResult loaded, int64_t id, PackedRow& packed, StoredCrashReport& stored,
                              std::string& error);

// The list line's start of the first description (of a crash report: of
// the comment) from that stored column and the row's packing; the kind is
// set already.
bool UnpackSummaryStart(const std::string& value, int64_t packing, ReportSummary& summary, std::string& error);

// "content", "placeholder", "empty".
const char* NameFileState(FileState state);
