// The HTML of the maintainers' interface, rendered from mustache templates
// that escape every value: nothing a reporter sent reaches the page as
// markup. Each function returns a whole page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/store/admin_store.h"
#include "server/store/crash_store.h"
#include "server/store/report_store.h"

extern const char kAdminStylesheet[];

// What every page but the log-in page shows in its header.
struct PageFrame
{
    std::string user;
    std::string csrfToken;
    std::string message;  // one line above the content; empty: none
};

// A page of the interface: its header for frame, then content, HTML that a
// template has escaped.
std::string RenderFramedPage(const std::string& title, const PageFrame& frame, const std::string& content);

// "2024-05-01T12:34:56.789Z" -> "2024-05-01 12:34:56".
std::string FormatTime(const std::string& utc);

std::string RenderLoginPage(const std::string& loginToken, const std::string& message);

// lines: one page of the list; components: the published ones, offered
// by the component filter; newerLink and olderLink: where the neighbouring
// pages are (empty: none).
std::string RenderReportList(const PageFrame& frame, const ReportFilter& filter, const std::vector<ReportLine>& lines,
                             const std::vector<std::string>& components, const std::string& newerLink,
                             const std::string& olderLink);

std::string RenderBugReport(const PageFrame& frame, const StoredReport& stored, const Triage& triage,
                            const std::vector<AuditEntry>& audit);
// analysis: the report's processed dump (reportId 0: not processed yet).
std::string RenderCrashReport(const PageFrame& frame, const StoredCrashReport& stored, const Triage& triage,
                              const std::vector<AuditEntry>& audit, const CrashAnalysis& analysis);

// days: the last 30 days, oldest first, "YYYY-MM-DD".
std::string RenderOverview(const PageFrame& frame, const std::vector<std::string>& days,
                           const std::vector<DayCount>& counts, const std::vector<StatusCount>& statuses);

std::string RenderPublishPage(const PageFrame& frame, const std::string& components, const std::string& version,
                              const std::string& updateAddress);

// Sender's bytes as text for a UTF-8 page: control bytes as \xNN, line
// breaks kept, bytes that are not UTF-8 read as Latin-1.
std::string MakeDisplayText(const std::string& bytes);

// The last count lines of text and the number of the first of them.
std::vector<std::string> TakeLastLines(const std::string& text, size_t count, size_t& firstNumber);

// A file name that is safe in a Content-Disposition header and on any
// disk: letters, digits, '.', '-' and '_', at most 100, never starting
// with a dot; fallback when nothing is left.
std::string MakeSafeFileName(const std::string& name, const std::string& fallback);
