// The crash and binary commands, and the crash analysis that show prints.
#include <memory>

#include "server/base/file_io.h"
#include "server/base/log_text.h"
#include "server/commands/commands.h"
#include "server/crash/crash_service.h"
#include "server/store/store_factory.h"

namespace {

// Both stores the command line names; prints why not on failure.
bool OpenStores(const CommandLine& line, std::unique_ptr<ReportStore>& reports, std::unique_ptr<CrashStore>& crashes)
{
    std::string error;
    reports = OpenReportStore(line.dataDir, line.databaseUrl, false, error);
    if (reports)
        crashes = OpenCrashStore(line.dataDir, line.databaseUrl, error);
    if (!reports || !crashes) {
        PrintError(error);
        return false;
    }
    return true;
}

std::string JoinVersions(const CrashGroup& group)
{
    std::string text;
    for (const auto& version : group.versions)
        text += (text.empty() ? "" : ",") + (version.first.empty() ? std::string("?") : version.first) + ":" +
                std::to_string(version.second);
    return text.empty() ? "-" : text;
}

int ListGroups(CrashStore& crashes, const CommandLine& line, FILE* out)
{
    GroupQuery query;
    query.days = line.periodDays;
    query.version = line.version;
    query.todayUtc = FormatUtcNow().substr(0, 10);
    query.limit = line.limit;
    std::vector<CrashGroup> groups;
    std::string error;
    if (!crashes.ListTopGroups(query, groups, error)) {
        PrintError(error);
        return 1;
    }
    for (const CrashGroup& group : groups) {
        const std::string status =
            group.status == "fixed" && !group.fixedVersion.empty() ? "fixed in " + group.fixedVersion : group.status;
        std::fprintf(out, "%lld\t%lld\t%s\t%s\t%s\t%s\t%s\n", static_cast<long long>(group.id),
                     static_cast<long long>(group.periodCount), EscapeControlBytes(status, false).c_str(),
                     group.firstSeenUtc.c_str(), group.lastSeenUtc.c_str(),
                     EscapeControlBytes(JoinVersions(group), false).c_str(),
                     EscapeControlBytes(group.signature, false).c_str());
    }
    return 0;
}

}  // namespace

int RunCrash(const CommandLine& line, FILE* out)
{
    std::unique_ptr<ReportStore> reports;
    std::unique_ptr<CrashStore> crashes;
    if (!OpenStores(line, reports, crashes))
        return 1;
    if (line.crashAction == CrashAction::Groups)
        return ListGroups(*crashes, line, out);
    std::vector<int64_t> ids = line.ids;
    std::string error;
    if ((line.allReports && !crashes->FindCrashReports(true, ids, error)) ||
        !ProcessCrashReports(*reports, *crashes, ids, error)) {
        PrintError(error);
        return 1;
    }
    std::fprintf(out, "%zu crash reports processed\n", ids.size());
    return 0;
}

int RunBinary(const CommandLine& line, FILE* out)
{
    std::unique_ptr<ReportStore> reports;
    std::unique_ptr<CrashStore> crashes;
    if (!OpenStores(line, reports, crashes))
        return 1;
    std::string error;
    if (line.binaryAction == BinaryAction::List) {
        std::vector<StoredBinary> binaries;
        if (!crashes->ListBinaries(binaries, error)) {
            PrintError(error);
            return 1;
        }
        for (const StoredBinary& binary : binaries)
            std::fprintf(out, "%s\t%08x\t%x\t%llu\t%s\n", EscapeControlBytes(binary.key.module, false).c_str(),
                         binary.key.timestamp, binary.key.imageSize, static_cast<unsigned long long>(binary.size),
                         binary.addedUtc.c_str());
        return 0;
    }
    for (const std::string& file : line.files) {
        std::string content;
        std::vector<int64_t> reprocessed;
        if (ReadWholeFile(file, content, error) != ReadResult::Read ||
            !AddReleaseBinary(*crashes, file, content, reprocessed, error) ||
            !ProcessCrashReports(*reports, *crashes, reprocessed, error)) {
            PrintError(error.empty() ? "cannot read '" + file + "'" : error);
            return 1;
        }
        std::fprintf(out, "%s: stored; %zu crash reports processed again\n", EscapeControlBytes(file, false).c_str(),
                     reprocessed.size());
    }
    return 0;
}

std::string DescribeCrashAnalysis(const CommandLine& line, int64_t id)
{
    std::unique_ptr<ReportStore> reports;
    std::unique_ptr<CrashStore> crashes;
    if (!OpenStores(line, reports, crashes))
        return std::string();
    CrashAnalysis analysis;
    std::string error;
    LoadResult loaded = crashes->LoadAnalysis(id, analysis, error);
    // Not processed yet (no server has run since it came): processed now.
    if (loaded == LoadResult::NotFound && ProcessCrashReports(*reports, *crashes, {id}, error))
        loaded = crashes->LoadAnalysis(id, analysis, error);
    if (loaded != LoadResult::Found)
        return "\n--- crash ---\n(not processed: " + EscapeControlBytes(error, false) + ")\n";
    return "\n--- crash ---\n" + analysis.text;
}
