// The report commands: list, show, export, prune and forget, each on the
// store that the command line names.
#include <time.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "server/base/file_io.h"
#include "server/commands/commands.h"
#include "server/store/report_store.h"
#include "server/store/report_text.h"
#include "server/store/store_factory.h"
#include "server/store/stored_fields.h"

namespace {

// One stored report of either kind.
struct LoadedReport
{
    ReportKind kind = ReportKind::Bug;
    StoredReport bug;
    StoredCrashReport crash;
};

// Opens the store the command line names; prints why not on failure.
std::unique_ptr<ReportStore> OpenStore(const CommandLine& line)
{
    std::string error;
    std::unique_ptr<ReportStore> store = OpenReportStore(line.dataDir, line.databaseUrl, false, error);
    if (!store)
        PrintError(error);
    return store;
}

// Opens the store and loads one report; prints why not on failure.
bool LoadOneReport(const CommandLine& line, LoadedReport& loaded)
{
    std::unique_ptr<ReportStore> store = OpenStore(line);
    if (!store)
        return false;
    std::string error;
    LoadResult result = store->LoadReport(line.id, loaded.bug, error);
    if (result == LoadResult::NotFound) {
        loaded.kind = ReportKind::Crash;
        result = store->LoadCrashReport(line.id, loaded.crash, error);
    }
    switch (result) {
    case LoadResult::Found:
        return true;
    case LoadResult::NotFound:
        PrintError("no report with id " + std::to_string(line.id) + " in the " + store->Describe());
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
    std::unique_ptr<ReportStore> store = OpenStore(line);
    if (!store)
        return 1;
    std::string error;
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
    if (!VisitStoredFields(*store, writeReport, error)) {
        PrintError(error);
        return 1;
    }
    return 0;
}

// ASCII letters without case: "User@Example.COM" is the same mailbox as far
// as anyone asking to be forgotten is concerned.
bool IsSameAddress(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The received time, as stored, of the moment days ago.
std::string FormatUtcDaysAgo(int days)
{
    const time_t then = time(nullptr) - static_cast<time_t>(days) * 86400;
    struct tm utc;
    gmtime_r(&then, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.000Z", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

// The store and its reports, oldest first; null (after one line on
// standard error) when either cannot be had.
std::unique_ptr<ReportStore> OpenAndListReports(const CommandLine& line, std::vector<ReportSummary>& reports)
{
    std::unique_ptr<ReportStore> store = OpenStore(line);
    std::string error;
    if (store && !store->ListReports(reports, error)) {
        PrintError(error);
        return nullptr;
    }
    return store;
}

// Removes the reports that remove selects, all at once, and prints them.
int RemoveSelectedReports(const CommandLine& line, FILE* out, const std::function<bool(const ReportSummary&)>& remove)
{
    std::vector<ReportSummary> reports;
    std::unique_ptr<ReportStore> store = OpenAndListReports(line, reports);
    if (!store)
        return 1;
    std::string error;
    std::vector<int64_t> ids;
    std::vector<std::string> lines;
    for (const ReportSummary& summary : reports) {
        if (remove(summary)) {
            ids.push_back(summary.id);
            lines.push_back(FormatListLine(summary));
        }
    }
    if (!ids.empty() && !store->RemoveReports(ids, error)) {
        PrintError(error);
        return 1;
    }
    for (const std::string& removed : lines)
        std::fprintf(out, "removed\t%s\n", removed.c_str());
    std::fprintf(out, "%zu report%s removed from the %s\n", ids.size(), ids.size() == 1 ? "" : "s",
                 store->Describe().c_str());
    return 0;
}

}  // namespace

int RunList(const CommandLine& line, FILE* out)
{
    std::vector<ReportSummary> reports;
    if (!OpenAndListReports(line, reports))
        return 1;
    for (const ReportSummary& summary : reports)
        std::fprintf(out, "%s\n", FormatListLine(summary).c_str());
    return 0;
}

int RunShow(const CommandLine& line, FILE* out)
{
    LoadedReport loaded;
    if (!LoadOneReport(line, loaded))
        return 1;
    if (line.rawBody) {
        const std::string& body = loaded.kind == ReportKind::Crash ? loaded.crash.rawBody : loaded.bug.rawBody;
        std::fwrite(body.data(), 1, body.size(), out);
        return 0;
    }
    const std::string text = loaded.kind == ReportKind::Crash
                                 ? FormatCrashReport(loaded.crash, false) + DescribeCrashAnalysis(line, line.id)
                                 : FormatReport(loaded.bug, false);
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

int RunPrune(const CommandLine& line, FILE* out)
{
    // The stored times sort as text.
    const std::string cutoff = FormatUtcDaysAgo(line.olderThanDays);
    return RemoveSelectedReports(line, out, [&cutoff](const ReportSummary& summary) {
        return summary.receivedUtc < cutoff;
    });
}

int RunForget(const CommandLine& line, FILE* out)
{
    return RemoveSelectedReports(line, out, [&line](const ReportSummary& summary) {
        return IsSameAddress(summary.email, line.email);
    });
}
