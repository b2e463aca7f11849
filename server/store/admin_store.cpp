#include "server/store/admin_store.h"

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

bool AdminStore::IndexMissingReports(ReportStore& reports, bool everyReport, std::string& error)
{
    std::vector<std::pair<int64_t, ReportKind>> missing;
    if (!FindMissingReports(everyReport, missing, error))
        return false;
    const size_t kBatch = 500;
    std::vector<IndexedReport> batch;
    for (const auto& entry : missing) {
        LoadResult result;
        if (entry.second == ReportKind::Crash) {
            StoredCrashReport stored;
            result = reports.LoadCrashReport(entry.first, stored, error);
            if (result == LoadResult::Found)
                batch.push_back(DescribeForIndex(entry.first, stored.origin, stored.report));
        } else {
            StoredReport stored;
            result = reports.LoadReport(entry.first, stored, error);
            if (result == LoadResult::Found)
                batch.push_back(DescribeForIndex(entry.first, stored.origin, stored.report));
        }
        if (result == LoadResult::Failed)
            return false;
        if (batch.size() == kBatch) {
            if (!IndexReports(batch, error))
                return false;
            batch.clear();
        }
    }
    return batch.empty() || IndexReports(batch, error);
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
    indexed.whatHappened = TakeStart(report.comment, kWhatHappenedBytes);
    indexed.searchText = report.comment;
    return indexed;
}
