#include <vector>

#include "server/commands.h"
#include "server/file_io.h"
#include "server/report_store.h"
#include "server/report_text.h"

namespace {

// One stored report of either kind.
struct LoadedReport
{
    ReportKind kind = ReportKind::Bug;
    StoredReport bug;
    StoredCrashReport crash;
};

// Opens the database and loads one report; prints why not on failure.
bool LoadOneReport(const CommandLine& line, LoadedReport& loaded)
{
    std::string error;
    SqliteDatabase db = OpenReportDatabase(line.dataDir, false, error);
    if (!db) {
        PrintError(error);
        return false;
    }
    LoadResult result = LoadReport(db.get(), line.id, loaded.bug, error);
    if (result == LoadResult::NotFound) {
        loaded.kind = ReportKind::Crash;
        result = LoadCrashReport(db.get(), line.id, loaded.crash, error);
    }
    switch (result) {
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

// A file of an exported report: its name and its bytes.
struct ExportedFile
{
    std::string name;
    const std::string* bytes;
};

// The files with content, under names that cannot overwrite report.txt or
// each other.
void AddExportedFiles(const ReportFile* const* files, const char* const* fields, size_t count,
                      std::vector<ExportedFile>& outputs)
{
    for (size_t i = 0; i < count; ++i) {
        if (files[i]->state != FileState::Content)
            continue;
        std::string name = files[i]->name;
        for (const ExportedFile& taken : outputs) {
            if (taken.name == name)
                name = std::string(fields[i]) + "-" + name;
        }
        outputs.push_back({name, &files[i]->content});
    }
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
    const auto writeReport = [&line, out](int64_t id, ReportKind kind, const std::vector<std::string>& fields,
                                          std::string& failure) {
        const std::string folder = line.outDir + "/" + std::to_string(id);
        if (!CreateFolders(folder, failure) || !WriteWholeFile(folder + "/kind", NameReportKind(kind), failure))
            return false;
        const char* const* names = kind == ReportKind::Crash ? kStoredCrashFieldNames : kStoredFieldNames;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (!WriteWholeFile(folder + "/" + names[i], fields[i], failure))
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
    LoadedReport loaded;
    if (!LoadOneReport(line, loaded))
        return 1;
    const std::string text =
        loaded.kind == ReportKind::Crash ? FormatCrashReport(loaded.crash, false) : FormatReport(loaded.bug, false);
    std::fwrite(text.data(), 1, text.size(), out);
    return 0;
}

int RunExport(const CommandLine& line, FILE* out)
{
    if (line.allReports)
        return ExportAllReports(line, out);
    LoadedReport loaded;
    if (!LoadOneReport(line, loaded))
        return 1;
    std::string error;
    if (!CreateFolders(line.outDir, error)) {
        PrintError("cannot create the output folder '" + line.outDir + "': " + error);
        return 1;
    }

    std::string text;
    std::vector<ExportedFile> outputs = {{"report.txt", &text}};
    if (loaded.kind == ReportKind::Crash) {
        text = FormatCrashReport(loaded.crash, true);
        const CrashReport& r = loaded.crash.report;
        const ReportFile* const files[] = {&r.dump, &r.log, &r.conf};
        const char* const fields[] = {"attachment_dump", "attachment_log", "attachment_conf"};
        AddExportedFiles(files, fields, 3, outputs);
    } else {
        text = FormatReport(loaded.bug, true);
        const Report& r = loaded.bug.report;
        const ReportFile* const files[] = {&r.attachment, &r.attachmentLog};
        const char* const fields[] = {"attachment", "attachment_log"};
        AddExportedFiles(files, fields, 2, outputs);
    }

    for (const ExportedFile& output : outputs) {
        const std::string path = line.outDir + "/" + output.name;
        if (!WriteWholeFile(path, *output.bytes, error)) {
            PrintError(error);
            return 1;
        }
        std::fprintf(out, "%s\n", path.c_str());
    }
    return 0;
}
