// The reports table as both stores hold it: the columns after the id, and a
// report packed into them and back. Attachments and long texts are zstd
// frames (the packing column says which); the raw body is left empty when
// the fields rebuild it exactly.
#pragma once

#include <cstdint>
#include <string>

#include "server/report_store.h"

// Column indexes, in table order (after id); the names are kStoredFieldNames.
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
    REPORT_COLUMN_COUNT
};

// After them, the packing: bit (1 << column) set when that column holds a
// zstd frame. Rows of schema version 1 have 0.
extern const char kPackingColumnName[];

struct PackedReport
{
    std::string values[REPORT_COLUMN_COUNT];
    int64_t packing = 0;
};

// Compresses and lays out a report. Thread-safe; meant to run outside any
// lock on the store.
void PackReport(const ReportOrigin& origin, const Report& report, const std::string& rawBody, PackedReport& packed);

// The reverse; rebuilds the raw body when it was not kept.
bool UnpackReport(PackedReport& packed, StoredReport& stored, std::string& error);

// One column's bytes as the report had them.
bool UnpackColumn(const std::string& value, int64_t packing, ReportColumn column, std::string& bytes,
                  std::string& error);

// "content", "placeholder", "empty".
const char* NameFileState(FileState state);
