#include "server/store/report_columns.h"

#include "server/report/report_body.h"
#include "server/store/compression.h"

const char* const kStoredFieldNames[] = {
    "received_utc", "peer", "user_agent", "email", "description1", "description2", "description3", "system_info",
    "attachment_name", "attachment", "attachment_state", "attachment_log_name", "attachment_log",
    "attachment_log_state", "raw_body", "component", "version", "code_page",
};
const size_t kStoredFieldCount = sizeof kStoredFieldNames / sizeof kStoredFieldNames[0];
static_assert(sizeof kStoredFieldNames / sizeof kStoredFieldNames[0] == REPORT_COLUMN_COUNT,
              "one field per column");

const char* const kStoredCrashFieldNames[] = {
    "received_utc", "peer", "user_agent", "comment", "attachment_dump_name", "attachment_dump",
    "attachment_dump_state", "attachment_log_name", "attachment_log", "attachment_log_state",
    "attachment_conf_name", "attachment_conf", "attachment_conf_state", "raw_body", "version",
};
const size_t kStoredCrashFieldCount = sizeof kStoredCrashFieldNames / sizeof kStoredCrashFieldNames[0];
static_assert(sizeof kStoredCrashFieldNames / sizeof kStoredCrashFieldNames[0] == CRASH_COLUMN_COUNT,
              "one field per column");

namespace {

// Shorter texts gain nothing worth a frame's header and the time.
const size_t kSmallestCompressed = 256;

FileState ReadFileState(const std::string& text)
{
    if (text == "content")
        return FileState::Content;
    if (text == "placeholder")
        return FileState::Placeholder;
    return FileState::Empty;
}

void StoreCompressed(PackedRow& packed, int column, const std::string& bytes)
{
    if (bytes.size() >= kSmallestCompressed) {
        std::string frame = CompressBytes(bytes);
        if (frame.size() < bytes.size()) {
            packed.values[column] = std::move(frame);
            packed.packing |= int64_t{1} << column;
            return;
        }
    }
    packed.values[column] = bytes;
}

void StoreOrigin(PackedRow& packed, const ReportOrigin& origin)
{
    packed.values[COLUMN_RECEIVED_UTC] = origin.receivedUtc;
    packed.values[COLUMN_PEER] = origin.peer;
    packed.values[COLUMN_USER_AGENT] = origin.userAgent;
}

// A file as three columns: name, content (compressed) and state.
void StoreFile(PackedRow& packed, int nameColumn, const ReportFile& file)
{
    packed.values[nameColumn] = file.name;
    StoreCompressed(packed, nameColumn + 1, file.content);
    packed.values[nameColumn + 2] = NameFileState(file.state);
}

// Unpacks every column into its target (null: a state, read separately).
bool UnpackColumns(PackedRow& packed, std::string* const* targets, std::string& error)
{
    for (size_t i = 0; i < packed.values.size(); ++i) {
        if (targets[i] == nullptr)
            continue;
        if ((packed.packing & (int64_t{1} << i)) == 0)
            targets[i]->swap(packed.values[i]);
        else if (!DecompressBytes(packed.values[i], *targets[i], error))
            return false;
    }
    return true;
}

}  // namespace

const char* NameFileState(FileState state)
{
    switch (state) {
    case FileState::Content:
        return "content";
    case FileState::Placeholder:
        return "placeholder";
    case FileState::Empty:
        break;
    }
    return "empty";
}

const TableShape kBugTable = {"reports", kStoredFieldNames, kStoredFieldCount};
const TableShape kCrashTable = {"crash_reports", kStoredCrashFieldNames, kStoredCrashFieldCount};

std::string ListColumns(const TableShape& table)
{
    std::string list;
    for (size_t i = 0; i < table.count; ++i)
        list += std::string(table.columns[i]) + ", ";
    return list + "packing";
}

void PackReport(const ReportOrigin& origin, const Report& report, const std::string& rawBody, PackedRow& packed)
{
    packed.values.assign(REPORT_COLUMN_COUNT, std::string());
    packed.packing = 0;
    StoreOrigin(packed, origin);
    packed.values[COLUMN_EMAIL] = report.email;  // plain: forget compares it
    StoreCompressed(packed, COLUMN_DESCRIPTION1, report.description1);
    StoreCompressed(packed, COLUMN_DESCRIPTION2, report.description2);
    StoreCompressed(packed, COLUMN_DESCRIPTION3, report.description3);
    StoreCompressed(packed, COLUMN_SYSTEM_INFO, report.systemInfo);
    StoreFile(packed, COLUMN_ATTACHMENT_NAME, report.attachment);
    StoreFile(packed, COLUMN_ATTACHMENT_LOG_NAME, report.attachmentLog);
    packed.values[COLUMN_COMPONENT] = report.component;
    packed.values[COLUMN_VERSION] = report.version;
    packed.values[COLUMN_CODE_PAGE] = report.codePage;
    if (report.originLines)
        packed.packing |= kPackingWithOrigin;
    // A valid body is never empty, so empty means "rebuild it". Kept only
    // when the fields would not give it back exactly.
    if (IsReportBodyRebuilt(report, rawBody, true))
        return;
    if (report.component.empty() && IsReportBodyRebuilt(report, rawBody, false))
        packed.packing |= kPackingWithoutComponentLine;
    else
        StoreCompressed(packed, COLUMN_RAW_BODY, rawBody);
}

void PackCrashReport(const ReportOrigin& origin, const CrashReport& report, const std::string& rawBody,
                     PackedRow& packed)
{
    packed.values.assign(CRASH_COLUMN_COUNT, std::string());
    packed.packing = 0;
    StoreOrigin(packed, origin);
    StoreCompressed(packed, CRASH_COLUMN_COMMENT, report.comment);
    StoreFile(packed, CRASH_COLUMN_DUMP_NAME, report.dump);
    StoreFile(packed, CRASH_COLUMN_LOG_NAME, report.log);
    StoreFile(packed, CRASH_COLUMN_CONF_NAME, report.conf);
    packed.values[CRASH_COLUMN_VERSION] = report.version;
    if (report.withVersion)
        packed.packing |= kPackingWithOrigin;
    if (!IsCrashBodyRebuilt(report, rawBody))
        StoreCompressed(packed, CRASH_COLUMN_RAW_BODY, rawBody);
}

bool UnpackReport(PackedRow& packed, StoredReport& stored, std::string& error)
{
    if (packed.values.size() != REPORT_COLUMN_COUNT) {
        error = "a report row of the wrong shape";
        return false;
    }
    Report& r = stored.report;
    std::string* const targets[REPORT_COLUMN_COUNT] = {
        &stored.origin.receivedUtc, &stored.origin.peer, &stored.origin.userAgent, &r.email, &r.description1,
        &r.description2, &r.description3, &r.systemInfo, &r.attachment.name, &r.attachment.content, nullptr,
        &r.attachmentLog.name, &r.attachmentLog.content, nullptr, &stored.rawBody, &r.component, &r.version,
        &r.codePage,
    };
    if (!UnpackColumns(packed, targets, error))
        return false;
    r.attachment.state = ReadFileState(packed.values[COLUMN_ATTACHMENT_STATE]);
    r.attachmentLog.state = ReadFileState(packed.values[COLUMN_ATTACHMENT_LOG_STATE]);
    r.originLines = (packed.packing & kPackingWithOrigin) != 0;
    if (stored.rawBody.empty())
        stored.rawBody = RebuildReportBody(r, (packed.packing & kPackingWithoutComponentLine) == 0);
    return true;
}

bool UnpackCrashReport(PackedRow& packed, StoredCrashReport& stored, std::string& error)
{
    if (packed.values.size() != CRASH_COLUMN_COUNT) {
        error = "a crash report row of the wrong shape";
        return false;
    }
    CrashReport& r = stored.report;
    std::string* const targets[CRASH_COLUMN_COUNT] = {
        &stored.origin.receivedUtc, &stored.origin.peer, &stored.origin.userAgent, &r.comment, &r.dump.name,
        &r.dump.content, nullptr, &r.log.name, &r.log.content, nullptr, &r.conf.name, &r.conf.content, nullptr,
        &stored.rawBody, &r.version,
    };
    if (!UnpackColumns(packed, targets, error))
        return false;
    r.dump.state = ReadFileState(packed.values[CRASH_COLUMN_DUMP_STATE]);
    r.log.state = ReadFileState(packed.values[CRASH_COLUMN_LOG_STATE]);
    r.conf.state = ReadFileState(packed.values[CRASH_COLUMN_CONF_STATE]);
    r.withVersion = (packed.packing & kPackingWithOrigin) != 0;
    if (stored.rawBody.empty())
        stored.rawBody = RebuildCrashBody(r);
    return true;
}

LoadResult UnpackLoadedReport(LoadResult loaded, int64_t id, PackedRow& packed, StoredReport& stored,
                              std::string& error)
{
    if (loaded != LoadResult::Found)
        return loaded;
    stored.id = id;
    if (!UnpackReport(packed, stored, error)) {
        error = "report " + std::to_string(id) + ": " + error;
        return LoadResult::Failed;
    }
    return LoadResult::Found;
}

LoadResult UnpackLoadedReport(LoadResult loaded, int64_t id, PackedRow& packed, StoredCrashReport& stored,
                              std::string& error)
{
    if (loaded != LoadResult::Found)
        return loaded;
    stored.id = id;
    if (!UnpackCrashReport(packed, stored, error)) {
        error = "crash report " + std::to_string(id) + ": " + error;
        return LoadResult::Failed;
    }
    return LoadResult::Found;
}

bool UnpackSummaryStart(const std::string& value, int64_t packing, ReportSummary& summary, std::string& error)
{
    const int column = summary.kind == ReportKind::Crash ? static_cast<int>(CRASH_COLUMN_COMMENT)
                                                          : static_cast<int>(COLUMN_DESCRIPTION1);
    std::string& start = summary.description1Start;
    if ((packing & (int64_t{1} << column)) == 0)
        start = value;
    else if (!DecompressBytes(value, start, error))
        return false;
    start.resize(std::min<size_t>(start.size(), 200));
    return true;
}
