#include "server/report_store.h"

#include <sys/stat.h>

const char kDatabaseFileName[] = "reports.db";

const char* const kStoredFieldNames[] = {
    "received_utc", "peer", "user_agent", "email", "description1", "description2", "description3", "system_info",
    "attachment_name", "attachment", "attachment_state", "attachment_log_name", "attachment_log",
    "attachment_log_state", "raw_body",
};
const size_t kStoredFieldCount = sizeof kStoredFieldNames / sizeof kStoredFieldNames[0];

const char* const kStoredCrashFieldNames[] = {
    "received_utc", "peer", "user_agent", "comment", "attachment_dump_name", "attachment_dump",
    "attachment_dump_state", "attachment_log_name", "attachment_log", "attachment_log_state",
    "attachment_conf_name", "attachment_conf", "attachment_conf_state", "raw_body",
};
const size_t kStoredCrashFieldCount = sizeof kStoredCrashFieldNames / sizeof kStoredCrashFieldNames[0];

namespace {

// 1: bug reports only; 2: crash reports beside them.
const int kSchemaVersion = 2;

// Crash reports take their ids from the bug reports' AUTOINCREMENT sequence
// (InsertCrashReport), hence no AUTOINCREMENT of their own.
const char kCreateCrashTable[] =
    "CREATE TABLE IF NOT EXISTS crash_reports ("
    " id INTEGER PRIMARY KEY,"
    " received_utc TEXT NOT NULL,"
    " peer TEXT NOT NULL,"
    " user_agent TEXT NOT NULL,"
    " comment BLOB NOT NULL,"
    " attachment_dump_name BLOB NOT NULL,"
    " attachment_dump BLOB NOT NULL,"
    " attachment_dump_state TEXT NOT NULL,"
    " attachment_log_name BLOB NOT NULL,"
    " attachment_log BLOB NOT NULL,"
    " attachment_log_state TEXT NOT NULL,"
    " attachment_conf_name BLOB NOT NULL,"
    " attachment_conf BLOB NOT NULL,"
    " attachment_conf_state TEXT NOT NULL,"
    " raw_body BLOB NOT NULL);";

const char kCreateSchema[] =
    "CREATE TABLE IF NOT EXISTS reports ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " received_utc TEXT NOT NULL,"
    " peer TEXT NOT NULL,"
    " user_agent TEXT NOT NULL,"
    " email BLOB NOT NULL,"
    " description1 BLOB NOT NULL,"
    " description2 BLOB NOT NULL,"
    " description3 BLOB NOT NULL,"
    " system_info BLOB NOT NULL,"
    " attachment_name BLOB NOT NULL,"
    " attachment BLOB NOT NULL,"
    " attachment_state TEXT NOT NULL,"
    " attachment_log_name BLOB NOT NULL,"
    " attachment_log BLOB NOT NULL,"
    " attachment_log_state TEXT NOT NULL,"
    " raw_body BLOB NOT NULL);";

std::string DescribeError(sqlite3* db, const std::string& what)
{
    return what + ": " + sqlite3_errmsg(db);
}

bool Execute(sqlite3* db, const char* sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = std::string(sql).substr(0, 40) + "...: " + (message != nullptr ? message : "failed");
    sqlite3_free(message);
    return false;
}

SqliteStatement Prepare(sqlite3* db, const char* sql, std::string& error)
{
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        error = DescribeError(db, "cannot prepare a query");
        sqlite3_finalize(statement);
        return SqliteStatement();
    }
    return SqliteStatement(statement);
}

// A single-value query such as a PRAGMA, as text.
bool QueryText(sqlite3* db, const char* sql, std::string& value, std::string& error)
{
    SqliteStatement statement = Prepare(db, sql, error);
    if (!statement)
        return false;
    if (sqlite3_step(statement.get()) != SQLITE_ROW) {
        error = DescribeError(db, sql);
        return false;
    }
    const unsigned char* text = sqlite3_column_text(statement.get(), 0);
    value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    return true;
}

const char* NameState(FileState state)
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

FileState ReadState(const std::string& text)
{
    if (text == "content")
        return FileState::Content;
    if (text == "placeholder")
        return FileState::Placeholder;
    return FileState::Empty;
}

// Blobs are bound without a copy: the strings outlive the statement's step.
bool BindBlob(sqlite3_stmt* statement, int index, const std::string& bytes)
{
    // A zero-length blob must still be a blob, not NULL: pass a valid pointer.
    return sqlite3_bind_blob64(statement, index, bytes.empty() ? "" : bytes.data(), bytes.size(),
                               SQLITE_STATIC) == SQLITE_OK;
}

bool BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    return sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8) ==
           SQLITE_OK;
}

std::string ColumnBytes(sqlite3_stmt* statement, int column)
{
    const void* bytes = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return bytes != nullptr ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
}

}  // namespace

SqliteDatabase OpenReportDatabase(const std::string& dataDir, bool create, std::string& error)
{
    const std::string path = dataDir + "/" + kDatabaseFileName;
    struct stat info;
    if (!create && stat(path.c_str(), &info) != 0) {
        error = "no report database in '" + dataDir + "' (it is made by: serve --data " + dataDir + ")";
        return SqliteDatabase();
    }

    sqlite3* raw = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    SqliteDatabase db(raw);
    if (rc != SQLITE_OK) {
        error = "cannot open '" + path + "': " + (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        return SqliteDatabase();
    }
    sqlite3_extended_result_codes(db.get(), 1);
    sqlite3_busy_timeout(db.get(), 10000);

    // Reports are mostly large blobs: big pages halve the time an insert
    // takes. Only a new, empty database takes the setting.
    if (create && !Execute(db.get(), "PRAGMA page_size = 65536", error))
        return SqliteDatabase();

    // WAL: readers (list, show) never block the server; FULL: a commit is on
    // disk before the 201 goes out, also across a power loss.
    std::string mode;
    if (!QueryText(db.get(), "PRAGMA journal_mode = WAL", mode, error))
        return SqliteDatabase();
    if (mode != "wal") {
        error = "cannot switch '" + path + "' to WAL mode (journal mode is " + mode + ")";
        return SqliteDatabase();
    }
    if (!Execute(db.get(), "PRAGMA synchronous = FULL", error))
        return SqliteDatabase();

    std::string version;
    if (!QueryText(db.get(), "PRAGMA user_version", version, error))
        return SqliteDatabase();
    if (version == "0" && create) {
        const std::string schema = std::string("BEGIN IMMEDIATE;") + kCreateSchema + kCreateCrashTable +
                                   "PRAGMA user_version = " + std::to_string(kSchemaVersion) + "; COMMIT;";
        if (!Execute(db.get(), schema.c_str(), error))
            return SqliteDatabase();
    } else if (version == "1") {
        // A database of the first schema: the crash table joins it.
        const std::string migration = std::string("BEGIN IMMEDIATE;") + kCreateCrashTable +
                                      "PRAGMA user_version = " + std::to_string(kSchemaVersion) + "; COMMIT;";
        if (!Execute(db.get(), migration.c_str(), error)) {
            // Closing the connection rolls the transaction back.
            error = "cannot add the crash table to '" + path + "': " + error;
            return SqliteDatabase();
        }
    } else if (version != std::to_string(kSchemaVersion)) {
        error = "'" + path + "' is not a report database of this server (schema version " + version + ")";
        return SqliteDatabase();
    }
    return db;
}

bool InsertReport(sqlite3* db, const ReportOrigin& origin, const Report& report, const std::string& rawBody,
                  int64_t& id, std::string& error)
{
    SqliteStatement statement = Prepare(db,
        "INSERT INTO reports (received_utc, peer, user_agent, email, description1, description2,"
        " description3, system_info, attachment_name, attachment, attachment_state,"
        " attachment_log_name, attachment_log, attachment_log_state, raw_body)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)",
        error);
    if (!statement)
        return false;

    sqlite3_stmt* s = statement.get();
    const std::string attachmentState = NameState(report.attachment.state);
    const std::string logState = NameState(report.attachmentLog.state);
    const bool bound = BindText(s, 1, origin.receivedUtc) && BindText(s, 2, origin.peer) &&
                       BindText(s, 3, origin.userAgent) && BindBlob(s, 4, report.email) &&
                       BindBlob(s, 5, report.description1) && BindBlob(s, 6, report.description2) &&
                       BindBlob(s, 7, report.description3) && BindBlob(s, 8, report.systemInfo) &&
                       BindBlob(s, 9, report.attachment.name) && BindBlob(s, 10, report.attachment.content) &&
                       BindText(s, 11, attachmentState) && BindBlob(s, 12, report.attachmentLog.name) &&
                       BindBlob(s, 13, report.attachmentLog.content) && BindText(s, 14, logState) &&
                       BindBlob(s, 15, rawBody);
    if (!bound) {
        error = DescribeError(db, "cannot bind the report");
        return false;
    }
    // In autocommit mode the step returns DONE only after the commit.
    if (sqlite3_step(s) != SQLITE_DONE) {
        error = DescribeError(db, "cannot store the report");
        return false;
    }
    id = sqlite3_last_insert_rowid(db);
    return true;
}

namespace {

// The next id of either kind: after the bug reports' sequence (which never
// goes back, and which every crash report moves on) and after every crash
// report. Inside the caller's transaction.
bool TakeNextId(sqlite3* db, int64_t& id, std::string& error)
{
    SqliteStatement next = Prepare(db,
        "SELECT max(coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'reports'), 0),"
        " coalesce((SELECT max(id) FROM reports), 0), coalesce((SELECT max(id) FROM crash_reports), 0)) + 1",
        error);
    if (!next || sqlite3_step(next.get()) != SQLITE_ROW) {
        error = DescribeError(db, "cannot choose the crash report's id");
        return false;
    }
    id = sqlite3_column_int64(next.get(), 0);

    SqliteStatement update = Prepare(db, "UPDATE sqlite_sequence SET seq = ?1 WHERE name = 'reports'", error);
    SqliteStatement insert = Prepare(db, "INSERT INTO sqlite_sequence (name, seq) VALUES ('reports', ?1)", error);
    if (!update || !insert)
        return false;
    sqlite3_bind_int64(update.get(), 1, id);
    if (sqlite3_step(update.get()) != SQLITE_DONE) {
        error = DescribeError(db, "cannot move the id sequence on");
        return false;
    }
    if (sqlite3_changes(db) == 0) {
        // No bug report yet: the sequence starts here.
        sqlite3_bind_int64(insert.get(), 1, id);
        if (sqlite3_step(insert.get()) != SQLITE_DONE) {
            error = DescribeError(db, "cannot start the id sequence");
            return false;
        }
    }
    return true;
}

bool InsertCrashRow(sqlite3* db, int64_t id, const ReportOrigin& origin, const CrashReport& report,
                    const std::string& rawBody, std::string& error)
{
    SqliteStatement statement = Prepare(db,
        "INSERT INTO crash_reports (id, received_utc, peer, user_agent, comment, attachment_dump_name,"
        " attachment_dump, attachment_dump_state, attachment_log_name, attachment_log, attachment_log_state,"
        " attachment_conf_name, attachment_conf, attachment_conf_state, raw_body)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)",
        error);
    if (!statement)
        return false;
    sqlite3_stmt* s = statement.get();
    const std::string dumpState = NameState(report.dump.state);
    const std::string logState = NameState(report.log.state);
    const std::string confState = NameState(report.conf.state);
    const bool bound = sqlite3_bind_int64(s, 1, id) == SQLITE_OK && BindText(s, 2, origin.receivedUtc) &&
                       BindText(s, 3, origin.peer) && BindText(s, 4, origin.userAgent) &&
                       BindBlob(s, 5, report.comment) && BindBlob(s, 6, report.dump.name) &&
                       BindBlob(s, 7, report.dump.content) && BindText(s, 8, dumpState) &&
                       BindBlob(s, 9, report.log.name) && BindBlob(s, 10, report.log.content) &&
                       BindText(s, 11, logState) && BindBlob(s, 12, report.conf.name) &&
                       BindBlob(s, 13, report.conf.content) && BindText(s, 14, confState) &&
                       BindBlob(s, 15, rawBody);
    if (!bound) {
        error = DescribeError(db, "cannot bind the crash report");
        return false;
    }
    if (sqlite3_step(s) != SQLITE_DONE) {
        error = DescribeError(db, "cannot store the crash report");
        return false;
    }
    return true;
}

}  // namespace

const char* NameReportKind(ReportKind kind)
{
    return kind == ReportKind::Crash ? "crash" : "bug";
}

bool InsertCrashReport(sqlite3* db, const ReportOrigin& origin, const CrashReport& report,
                       const std::string& rawBody, int64_t& id, std::string& error)
{
    if (!Execute(db, "BEGIN IMMEDIATE", error))
        return false;
    int64_t next = 0;
    if (!TakeNextId(db, next, error) || !InsertCrashRow(db, next, origin, report, rawBody, error) ||
        !Execute(db, "COMMIT", error)) {
        std::string ignored;
        Execute(db, "ROLLBACK", ignored);
        return false;
    }
    id = next;
    return true;
}

bool ListReports(sqlite3* db, std::vector<ReportSummary>& reports, std::string& error)
{
    SqliteStatement statement = Prepare(db,
        "SELECT id, 0, received_utc, email, substr(description1, 1, 200) FROM reports"
        " UNION ALL SELECT id, 1, received_utc, x'', substr(comment, 1, 200) FROM crash_reports ORDER BY id",
        error);
    if (!statement)
        return false;

    reports.clear();
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        ReportSummary summary;
        summary.id = sqlite3_column_int64(statement.get(), 0);
        summary.kind = sqlite3_column_int(statement.get(), 1) != 0 ? ReportKind::Crash : ReportKind::Bug;
        summary.receivedUtc = ColumnBytes(statement.get(), 2);
        summary.email = ColumnBytes(statement.get(), 3);
        summary.description1Start = ColumnBytes(statement.get(), 4);
        reports.push_back(std::move(summary));
    }
    if (rc != SQLITE_DONE) {
        error = DescribeError(db, "cannot list the reports");
        return false;
    }
    return true;
}

LoadResult LoadReport(sqlite3* db, int64_t id, StoredReport& stored, std::string& error)
{
    SqliteStatement statement = Prepare(db,
        "SELECT received_utc, peer, user_agent, email, description1, description2, description3,"
        " system_info, attachment_name, attachment, attachment_state, attachment_log_name,"
        " attachment_log, attachment_log_state, length(raw_body) FROM reports WHERE id = ?1",
        error);
    if (!statement)
        return LoadResult::Failed;
    sqlite3_stmt* s = statement.get();
    sqlite3_bind_int64(s, 1, id);

    const int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE)
        return LoadResult::NotFound;
    if (rc != SQLITE_ROW) {
        error = DescribeError(db, "cannot load report " + std::to_string(id));
        return LoadResult::Failed;
    }

    stored.id = id;
    stored.origin.receivedUtc = ColumnBytes(s, 0);
    stored.origin.peer = ColumnBytes(s, 1);
    stored.origin.userAgent = ColumnBytes(s, 2);
    Report& r = stored.report;
    r.email = ColumnBytes(s, 3);
    r.description1 = ColumnBytes(s, 4);
    r.description2 = ColumnBytes(s, 5);
    r.description3 = ColumnBytes(s, 6);
    r.systemInfo = ColumnBytes(s, 7);
    r.attachment.name = ColumnBytes(s, 8);
    r.attachment.content = ColumnBytes(s, 9);
    r.attachment.state = ReadState(ColumnBytes(s, 10));
    r.attachmentLog.name = ColumnBytes(s, 11);
    r.attachmentLog.content = ColumnBytes(s, 12);
    r.attachmentLog.state = ReadState(ColumnBytes(s, 13));
    stored.rawBodySize = static_cast<size_t>(sqlite3_column_int64(s, 14));
    return LoadResult::Found;
}

LoadResult LoadCrashReport(sqlite3* db, int64_t id, StoredCrashReport& stored, std::string& error)
{
    SqliteStatement statement = Prepare(db,
        "SELECT received_utc, peer, user_agent, comment, attachment_dump_name, attachment_dump,"
        " attachment_dump_state, attachment_log_name, attachment_log, attachment_log_state,"
        " attachment_conf_name, attachment_conf, attachment_conf_state, length(raw_body)"
        " FROM crash_reports WHERE id = ?1",
        error);
    if (!statement)
        return LoadResult::Failed;
    sqlite3_stmt* s = statement.get();
    sqlite3_bind_int64(s, 1, id);

    const int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE)
        return LoadResult::NotFound;
    if (rc != SQLITE_ROW) {
        error = DescribeError(db, "cannot load crash report " + std::to_string(id));
        return LoadResult::Failed;
    }

    stored.id = id;
    stored.origin.receivedUtc = ColumnBytes(s, 0);
    stored.origin.peer = ColumnBytes(s, 1);
    stored.origin.userAgent = ColumnBytes(s, 2);
    stored.report.comment = ColumnBytes(s, 3);
    ReportFile* const files[] = {&stored.report.dump, &stored.report.log, &stored.report.conf};
    for (int i = 0; i < 3; ++i) {
        files[i]->name = ColumnBytes(s, 4 + 3 * i);
        files[i]->content = ColumnBytes(s, 5 + 3 * i);
        files[i]->state = ReadState(ColumnBytes(s, 6 + 3 * i));
    }
    stored.rawBodySize = static_cast<size_t>(sqlite3_column_int64(s, 13));
    return LoadResult::Found;
}

namespace {

// One table's rows with every stored field, by id.
struct FieldWalk
{
    SqliteStatement statement;
    size_t fieldCount = 0;
    int rc = SQLITE_DONE;
};

bool StartFieldWalk(sqlite3* db, const char* table, const char* const* names, size_t count, FieldWalk& walk,
                    std::string& error)
{
    std::string sql = "SELECT id";
    for (size_t i = 0; i < count; ++i)
        sql += std::string(", ") + names[i];
    sql += std::string(" FROM ") + table + " ORDER BY id";
    walk.statement = Prepare(db, sql.c_str(), error);
    if (!walk.statement)
        return false;
    walk.fieldCount = count;
    walk.rc = sqlite3_step(walk.statement.get());
    return true;
}

bool VisitRow(FieldWalk& walk, ReportKind kind, const StoredFieldsVisitor& visit, std::string& error)
{
    sqlite3_stmt* s = walk.statement.get();
    std::vector<std::string> fields(walk.fieldCount);
    for (size_t i = 0; i < walk.fieldCount; ++i)
        fields[i] = ColumnBytes(s, static_cast<int>(i + 1));
    if (!visit(sqlite3_column_int64(s, 0), kind, fields, error))
        return false;
    walk.rc = sqlite3_step(s);
    return true;
}

}  // namespace

bool VisitStoredFields(sqlite3* db, const StoredFieldsVisitor& visit, std::string& error)
{
    FieldWalk bugs;
    FieldWalk crashes;
    if (!StartFieldWalk(db, "reports", kStoredFieldNames, kStoredFieldCount, bugs, error) ||
        !StartFieldWalk(db, "crash_reports", kStoredCrashFieldNames, kStoredCrashFieldCount, crashes, error))
        return false;

    // Both tables in id order, merged.
    while (bugs.rc == SQLITE_ROW || crashes.rc == SQLITE_ROW) {
        const bool crashNext = bugs.rc != SQLITE_ROW ||
                               (crashes.rc == SQLITE_ROW && sqlite3_column_int64(crashes.statement.get(), 0) <
                                                                sqlite3_column_int64(bugs.statement.get(), 0));
        const bool visited = crashNext ? VisitRow(crashes, ReportKind::Crash, visit, error)
                                       : VisitRow(bugs, ReportKind::Bug, visit, error);
        if (!visited)
            return false;
    }
    if (bugs.rc != SQLITE_DONE || crashes.rc != SQLITE_DONE) {
        error = DescribeError(db, "cannot read the reports");
        return false;
    }
    return true;
}
