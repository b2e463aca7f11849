#include "server/store/admin_store.h"

#include <utility>

#include "server/base/code_page_text.h"

const char* const kTriageStatuses[] = {"new", "triaged", "fixed", "duplicate", "invalid", nullptr};

bool IsTriageStatus(const std::string& status)
{
    for (const char* const* s = kTriageStatuses; *s != nullptr; ++s) {
        if (status == *s)
            return true;
    }
    return false;
}

namespace {

const size_t kWhatHappenedBytes = 300;

// Reports indexed (or described again) together; a batch's texts are in
// memory at once.
const size_t kIndexBatch = 500;

// The first bytes of text, not cutting a UTF-8 sequence in two.
std::string TakeStart(const std::string& text, size_t bytes)
{
    if (text.size() <= bytes)
        return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

}  // namespace

LoadResult DescribeStoredReport(ReportStore& reports, int64_t id, ReportKind kind, IndexedReport& indexed,
                                std::string& error)
{
    LoadResult result;
    if (kind == ReportKind::Crash) {
        StoredCrashReport stored;
        result = reports.LoadCrashReport(id, stored, error);
        if (result == LoadResult::Found)
            indexed = DescribeForIndex(id, stored.origin, stored.report);
    } else {
        StoredReport stored;
        result = reports.LoadReport(id, stored, error);
        if (result == LoadResult::Found)
            indexed = DescribeForIndex(id, stored.origin, stored.report);
    }
    return result;
}

bool AdminStore::IndexMissingReports(ReportStore& reports, bool everyReport, std::string& error)
{
    std::vector<std::pair<int64_t, ReportKind>> missing;
    if (!FindMissingReports(everyReport, missing, error))
        return false;
    std::vector<IndexedReport> batch;
    for (const auto& entry : missing) {
        IndexedReport indexed;
        const LoadResult result = DescribeStoredReport(reports, entry.first, entry.second, indexed, error);
        if (result == LoadResult::Failed)
            return false;
        if (result == LoadResult::Found)
            batch.push_back(std::move(indexed));
        if (batch.size() == kIndexBatch) {
            if (!IndexReports(batch, error))
                return false;
            batch.clear();
        }
    }
    return batch.empty() || IndexReports(batch, error);
}

bool DescribeIndexedReportsAgain(
    ReportStore& reports,
    const std::function<bool(int64_t after, size_t count, std::vector<std::pair<int64_t, ReportKind>>& lines,
                             std::string& error)>& findBatch,
    const std::function<bool(const std::vector<IndexedReport>& batch, std::string& error)>& rewrite,
    std::string& error)
{
    int64_t after = 0;
    std::vector<std::pair<int64_t, ReportKind>> lines;
    std::vector<IndexedReport> batch;
    for (;;) {
        lines.clear();
        if (!findBatch(after, kIndexBatch, lines, error))
            return false;
        if (lines.empty())
            return true;
        batch.clear();
        for (const auto& line : lines) {
            IndexedReport indexed;
            const LoadResult result = DescribeStoredReport(reports, line.first, line.second, indexed, error);
            if (result == LoadResult::Failed)
                return false;
            if (result == LoadResult::Found)
                batch.push_back(std::move(indexed));
        }
        if (!batch.empty() && !rewrite(batch, error))
            return false;
        after = lines.back().first;
    }
}

std::vector<std::string> SplitSearchText(const std::string& text)
{
    // Control bytes separate words too: a NUL must not reach a query.
    static const std::string kSpaces = [] {
        std::string bytes(" \x7f");
        for (char c = 0; c < 0x20; ++c)
            bytes += c;
        return bytes;
    }();
    std::vector<std::string> pieces;
    size_t start = text.find_first_not_of(kSpaces);
    while (start != std::string::npos) {
        const size_t end = text.find_first_of(kSpaces, start);
        pieces.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(kSpaces, end);
    }
    return pieces;
}

IndexedReport DescribeForIndex(int64_t id, const ReportOrigin& origin, const Report& report)
{
    IndexedReport indexed;
    indexed.id = id;
    indexed.kind = ReportKind::Bug;
    indexed.receivedUtc = origin.receivedUtc;
    indexed.component = report.component;  // as published, for the filter
    // The texts as typed, so that a search in UTF-8 finds them and the list
    // shows them.
    const auto typed = [&](const std::string& bytes) { return ConvertFromCodePage(bytes, report.codePage); };
    indexed.version = typed(report.version);
    indexed.email = typed(report.email);
    indexed.whatHappened = TakeStart(typed(report.description2), kWhatHappenedBytes);
    indexed.searchText = typed(report.description1) + " " + typed(report.description2) + " " +
                         typed(report.description3);
    return indexed;
}

IndexedReport DescribeForIndex(int64_t id, const ReportOrigin& origin, const CrashReport& report)
{
    IndexedReport indexed;
    indexed.id = id;
    indexed.kind = ReportKind::Crash;
    indexed.receivedUtc = origin.receivedUtc;
    indexed.version = report.version;
    indexed.whatHappened = TakeStart(report.comment, kWhatHappenedBytes);
    indexed.searchText = report.comment;
    return indexed;
}
