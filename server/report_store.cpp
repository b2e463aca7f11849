#include "server/report_store.h"

#include <sys/stat.h>

const char kDatabaseFileName[] = "reports.db";

namespace {

const int kSchemaVersion = 2;

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
    " raw_body BLOB NOT NULL,"
    " component BLOB NOT NULL DEFAULT x'');"
    "PRAGMA user_version = 2;";

// Version 1 had no component: reports stored before keep an empty one.
const char kAddComponent[] =
    "BEGIN IMMEDIATE;"
    "ALTER TABLE reports ADD COLUMN component BLOB NOT NULL DEFAULT x'';"
    "PRAGMA user_version = 2;"
    "COMMIT;";

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
        if (!Execute(db.get(), kCreateSchema, error))
            return SqliteDatabase();
    } else if (version == "1") {
        if (!Execute(db.get(), kAddComponent, error)) {
            Execute(db.get(), "ROLLBACK", error);
            error = "cannot add the component column to '" + path + "': " + error;
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
        " attachment_log_name, attachment_log, attachment_log_state, raw_body, component)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16)",
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
                       BindBlob(s, 15, rawBody) && BindBlob(s, 16, report.component);
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

bool ListReports(sqlite3* db, std::vector<ReportSummary>& reports, std::string& error)
{
    SqliteStatement statement = Prepare(db,
        "SELECT id, received_utc, email, substr(description1, 1, 200) FROM reports ORDER BY id", error);
    if (!statement)
        return false;

    reports.clear();
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        ReportSummary summary;
        summary.id = sqlite3_column_int64(statement.get(), 0);
        summary.receivedUtc = ColumnBytes(statement.get(), 1);
        summary.email = ColumnBytes(statement.get(), 2);
        summary.description1Start = ColumnBytes(statement.get(), 3);
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
        " attachment_log, attachment_log_state, length(raw_body), component FROM reports WHERE id = ?1",
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
    r.component = ColumnBytes(s, 15);
    return LoadResult::Found;
}
