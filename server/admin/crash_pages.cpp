#include "server/admin/crash_pages.h"

#include <kainjow/mustache.hpp>

#include <algorithm>
#include <cstdio>

using kainjow::mustache::data;
using kainjow::mustache::mustache;

namespace {

const char kCrashListTemplate[] = R"HTML(<h1>Crashes</h1>
<form class="filters" method="get" action="/crashes">
<label>Period <select name="days">{{#periods}}<option value="{{value}}"{{#selected}} selected{{/selected}}>{{name}}</option>{{/periods}}</select></label>
<label>Version <input name="version" value="{{version}}" size="12"></label>
<button type="submit">Show</button> <a href="/binaries">Release binaries</a></form>
<table class="crashes"><thead><tr><th>Signature</th><th>Reports</th><th>Trend</th><th>First seen (UTC)</th><th>Last seen (UTC)</th><th>Versions</th><th>Status</th></tr></thead><tbody>
{{#groups}}<tr><td><a href="/crashes/{{id}}">{{signature}}</a></td><td class="count">{{count}}</td><td class="trend" title="{{trendTitle}}">{{trend}}</td><td>{{first}}</td><td>{{last}}</td><td>{{versions}}</td><td class="status">{{status}}</td></tr>
{{/groups}}{{^groups}}<tr><td colspan="7">No crash in this period.</td></tr>{{/groups}}
</tbody></table>
)HTML";

const char kCrashGroupTemplate[] = R"HTML(<h1>Crash {{id}}</h1>
<p class="signature"><strong>{{signature}}</strong></p>
<dl><dt>Reports</dt><dd>{{count}}</dd><dt>First seen (UTC)</dt><dd>{{first}}</dd><dt>Last seen (UTC)</dt><dd>{{last}}</dd>
<dt>Versions</dt><dd>{{versions}}</dd><dt>Status</dt><dd class="status">{{status}}</dd></dl>
<form method="post" action="/crashes/{{id}}/status" class="filters"><input type="hidden" name="csrf" value="{{csrf}}">
<label>Status <select name="status">{{#statuses}}<option{{#selected}} selected{{/selected}}>{{name}}</option>{{/statuses}}</select></label>
<label>Fixed in version <input name="fixed_version" value="{{fixedVersion}}" size="12"></label>
<button type="submit">Save</button></form>
<h2>Reports per day</h2>
<svg class="chart" xmlns="http://www.w3.org/2000/svg" width="{{width}}" height="140" viewBox="0 0 {{width}} 140" role="img" aria-label="Reports per day">
<line x1="40" y1="120" x2="{{width}}" y2="120" stroke="#999"/><text x="36" y="24" text-anchor="end" font-size="11">{{top}}</text><text x="36" y="120" text-anchor="end" font-size="11">0</text>
{{#bars}}<rect x="{{x}}" y="{{y}}" width="{{w}}" height="{{h}}" fill="#c94f7c"><title>{{title}}</title></rect>
{{/bars}}{{#labels}}<text x="{{x}}" y="134" font-size="10" text-anchor="middle">{{text}}</text>{{/labels}}
</svg>
{{#newest}}<h2>Newest report, <a href="/reports/{{id}}">{{id}}</a></h2><pre class="crash">{{text}}</pre>{{/newest}}
<h2>Reports</h2><ul class="reports">{{#reports}}<li><a href="/reports/{{.}}">{{.}}</a></li>{{/reports}}</ul>
)HTML";

const char kBinariesTemplate[] = R"HTML(<h1>Release binaries</h1>
<p>Brevora's executables and DLLs as released. A crash report's stack is unwound and named with the binaries of the modules in its dump; adding one processes those reports again.</p>
<form method="post" action="/binaries" enctype="multipart/form-data" class="filters"><input type="hidden" name="csrf" value="{{csrf}}">
<label>Files <input type="file" name="binary" multiple required></label><button type="submit">Add</button></form>
<table class="binaries"><thead><tr><th>Module</th><th>Time stamp</th><th>Image size</th><th>Bytes</th><th>Added (UTC)</th></tr></thead><tbody>
{{#binaries}}<tr><td>{{module}}</td><td>{{timestamp}}</td><td>{{imageSize}}</td><td>{{size}}</td><td>{{added}}</td></tr>
{{/binaries}}{{^binaries}}<tr><td colspan="5">None yet.</td></tr>{{/binaries}}
</tbody></table>
)HTML";

std::string FormatHexNumber(uint64_t value, const char* format)
{
    char text[32];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(value));
    return text;
}

std::string DescribeStatus(const CrashGroup& group)
{
    return group.status == "fixed" && !group.fixedVersion.empty() ? "fixed in " + MakeDisplayText(group.fixedVersion)
                                                                   : group.status;
}

std::string JoinVersions(const CrashGroup& group)
{
    std::string text;
    for (const auto& version : group.versions)
        text += (text.empty() ? "" : ", ") + (version.first.empty() ? "unknown" : MakeDisplayText(version.first)) +
                " (" + std::to_string(version.second) + ")";
    return text;
}

data SetGroupValues(const CrashGroup& group)
{
    data values;
    values.set("id", std::to_string(group.id));
    values.set("signature", MakeDisplayText(group.signature));
    values.set("count", std::to_string(group.periodCount));
    values.set("first", FormatTime(group.firstSeenUtc));
    values.set("last", FormatTime(group.lastSeenUtc));
    values.set("versions", JoinVersions(group));
    values.set("status", DescribeStatus(group));
    return values;
}

// Bars of the newest 60 days that have reports, a label under about every
// sixth.
data MakeDayBars(const std::vector<std::pair<std::string, int64_t>>& days, int& width, int64_t& top, data& labels)
{
    const size_t shown = std::min<size_t>(days.size(), 60);
    top = 1;
    for (size_t i = days.size() - shown; i < days.size(); ++i)
        top = std::max(top, days[i].second);
    width = 40 + 14 * static_cast<int>(shown) + 10;
    data bars(data::type::list);
    for (size_t i = 0; i < shown; ++i) {
        const auto& day = days[days.size() - shown + i];
        const double h = 96.0 * static_cast<double>(day.second) / static_cast<double>(top);
        data bar;
        bar.set("x", std::to_string(44 + 14 * static_cast<int>(i)));
        bar.set("y", std::to_string(120 - h));
        bar.set("w", "10");
        bar.set("h", std::to_string(h));
        bar.set("title", day.first + ": " + std::to_string(day.second));
        bars.push_back(bar);
    }
    labels = data(data::type::list);
    for (size_t i = 0; i < shown; i += std::max<size_t>(1, shown / 6)) {
        data label;
        label.set("x", std::to_string(49 + 14 * static_cast<int>(i)));
        label.set("text", days[days.size() - shown + i].first.substr(5));
        labels.push_back(label);
    }
    return bars;
}

}  // namespace

std::string RenderCrashList(const PageFrame& frame, const CrashListView& view)
{
    data page;
    data periods(data::type::list);
    for (const char* period : {"7", "30", "all"}) {
        data option;
        option.set("value", period);
        option.set("name", std::string(period) == "all" ? "all time" : std::string("last ") + period + " days");
        option.set("selected", data(view.period == period));
        periods.push_back(option);
    }
    page.set("periods", periods);
    page.set("version", MakeDisplayText(view.version));
    data groups(data::type::list);
    for (const CrashGroup& group : view.groups) {
        data row = SetGroupValues(group);
        // Against the period as long before it; all time has no trend.
        if (view.period != "all") {
            const int64_t change = group.periodCount - group.previousCount;
            row.set("trend", change > 0 ? "+" + std::to_string(change) : std::to_string(change));
            row.set("trendTitle", std::to_string(group.previousCount) + " in the " + view.period + " days before");
        }
        groups.push_back(row);
    }
    page.set("groups", groups);
    return RenderFramedPage("Crashes", frame, mustache(kCrashListTemplate).render(page));
}

std::string RenderCrashGroup(const PageFrame& frame, const CrashGroup& group,
                             const std::vector<std::pair<std::string, int64_t>>& days, const CrashAnalysis& newest,
                             const std::vector<int64_t>& reports)
{
    data page = SetGroupValues(group);
    page.set("csrf", frame.csrfToken);
    page.set("fixedVersion", MakeDisplayText(group.fixedVersion));
    data statuses(data::type::list);
    for (const char* const* s = kGroupStatuses; *s != nullptr; ++s) {
        data option;
        option.set("name", *s);
        option.set("selected", data(group.status == *s));
        statuses.push_back(option);
    }
    page.set("statuses", statuses);
    int width = 0;
    int64_t top = 0;
    data labels;
    page.set("bars", MakeDayBars(days, width, top, labels));
    page.set("width", std::to_string(width));
    page.set("top", std::to_string(top));
    page.set("labels", labels);
    if (newest.reportId != 0) {
        data analysis;
        analysis.set("id", std::to_string(newest.reportId));
        analysis.set("text", MakeDisplayText(newest.text));
        page.set("newest", analysis);
    }
    data ids(data::type::list);
    for (int64_t id : reports)
        ids.push_back(data(std::to_string(id)));
    page.set("reports", ids);
    return RenderFramedPage("Crash " + std::to_string(group.id), frame, mustache(kCrashGroupTemplate).render(page));
}

std::string RenderBinaries(const PageFrame& frame, const std::vector<StoredBinary>& binaries)
{
    data page;
    page.set("csrf", frame.csrfToken);
    data rows(data::type::list);
    for (const StoredBinary& binary : binaries) {
        data row;
        row.set("module", MakeDisplayText(binary.key.module));
        row.set("timestamp", FormatHexNumber(binary.key.timestamp, "%08llx"));
        row.set("imageSize", FormatHexNumber(binary.key.imageSize, "0x%llx"));
        row.set("size", std::to_string(binary.size));
        row.set("added", FormatTime(binary.addedUtc));
        rows.push_back(row);
    }
    page.set("binaries", rows);
    return RenderFramedPage("Release binaries", frame, mustache(kBinariesTemplate).render(page));
}
