#include <vector>

#include "server/commands.h"
#include "server/file_io.h"
#include "server/report_store.h"
#include "server/report_text.h"

namespace {

// Opens the database and loads one report; prints why not on failure.
bool LoadOneReport(const CommandLine& line, StoredReport& stored)
{
    std::string error;
    SqliteDatabase db = OpenReportDatabase(line.dataDir, false, error);
    if (!db) {
        PrintError(error);
        return false;
    }
    switch (LoadReport(db.get(), line.id, stored, error)) {
    case LoadResult::Found:
        return true;
    case LoadResult::NotFound:
        PrintError("no report with id " + std::to_string(line.id) + " in '" + line.dataDir + "'");
        return false;
    case LoadResult::Failed:
        break;
    }
    PrintError(error);
    return false;
}

// Attachment file names that cannot overwrite report.txt or each other.
void ChooseExportNames(const Report& report, std::string& attachment, std::string& log)
{
    attachment = report.attachment.name;
    log = report.attachmentLog.name;
    if (attachment == "report.txt")
        attachment = "attachment-" + attachment;
    if (log == "report.txt" || log == attachment)
        log = "attachment_log-" + log;
}

// Every stored field of every report, one folder per report and one file per
// field, so that tests and scripts need not know the table.
int ExportAllReports(const CommandLine& line, FILE* out)
{
    std::string error;
    SqliteDatabase db = OpenReportDatabase(line.dataDir, false, error);
    if (!db) {
        PrintError(error);
        return 1;
    }
    if (!CreateFolders(line.outDir, error)) {
        PrintError("cannot create the output folder '" + line.outDir + "': " + error);
        return 1;
    }
    const auto writeReport = [&line, out](int64_t id, const std::vector<std::string>& fields, std::string& failure) {
        const std::string folder = line.outDir + "/" + std::to_string(id);
        if (!CreateFolders(folder, failure))
            return false;
        for (size_t i = 0; i < kStoredFieldCount; ++i) {
            if (!WriteWholeFile(folder + "/" + kStoredFieldNames[i], fields[i], failure))
                return false;
        }
        std::fprintf(out, "%s\n", folder.c_str());
        return true;
    };
    if (!VisitStoredFields(db.get(), writeReport, error)) {
        PrintError(error);
        return 1;
    }
    return 0;
}

}  // namespace

void PrintError(const std::string& message)
{
    std::fprintf(stderr, "brevora-report-server: error: %s\n", message.c_str());
}

int RunList(const CommandLine& line, FILE* out)
{
    std::string error;
    SqliteDatabase db = OpenReportDatabase(line.dataDir, false, error);
    std::vector<ReportSummary> reports;
    if (!db || !ListReports(db.get(), reports, error)) {
        PrintError(error);
        return 1;
    }
    for (const ReportSummary& summary : reports)
        std::fprintf(out, "%s\n", FormatListLine(summary).c_str());
    return 0;
}

int RunShow(const CommandLine& line, FILE* out)
{
    StoredReport stored;
    if (!LoadOneReport(line, stored))
        return 1;
    const std::string text = FormatReport(stored, false);
    std::fwrite(text.data(), 1, text.size(), out);
    return 0;
}

int RunExport(const CommandLine& line, FILE* out)
{
    if (line.allReports)
        return ExportAllReports(line, out);
    StoredReport stored;
    if (!LoadOneReport(line, stored))
        return 1;
    std::string error;
    if (!CreateFolders(line.outDir, error)) {
        PrintError("cannot create the output folder '" + line.outDir + "': " + error);
        return 1;
    }

    std::string attachmentName;
    std::string logName;
    ChooseExportNames(stored.report, attachmentName, logName);
    struct Output
    {
        std::string name;
        const std::string* bytes;
    };
    const std::string text = FormatReport(stored, true);
    std::vector<Output> outputs = {{"report.txt", &text}};
    if (stored.report.attachment.state == FileState::Content)
        outputs.push_back({attachmentName, &stored.report.attachment.content});
    if (stored.report.attachmentLog.state == FileState::Content)
        outputs.push_back({logName, &stored.report.attachmentLog.content});

    for (const Output& output : outputs) {
        const std::string path = line.outDir + "/" + output.name;
        if (!WriteWholeFile(path, *output.bytes, error)) {
            PrintError(error);
            return 1;
        }
        std::fprintf(out, "%s\n", path.c_str());
    }
    return 0;
}
