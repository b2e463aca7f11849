#include "server/admin/admin_pages.h"

#include <kainjow/mustache.hpp>

#include <algorithm>
#include <map>

#include "server/base/code_page_text.h"
#include "server/base/log_text.h"
#include "server/base/utf8_text.h"
#include "server/store/report_text.h"

using kainjow::mustache::data;
using kainjow::mustache::mustache;

const char kAdminStylesheet[] = R"CSS(body{font:14px/1.4 system-ui,sans-serif;margin:0;color:#1d2430;background:#f6f7f9}
header{background:#22304a;color:#fff;padding:.5em 1em;display:flex;gap:1.5em;align-items:center}
header a{color:#fff;text-decoration:none}header .user{margin-left:auto}
header form{display:inline}main{padding:1em;max-width:1200px}
table{border-collapse:collapse;width:100%;background:#fff}th,td{border-bottom:1px solid #dde1e7;padding:.3em .5em;text-align:left;vertical-align:top}
th{background:#eef1f5}td.what{max-width:40em;overflow:hidden;text-overflow:ellipsis;white-space:nowrap}
pre,.text{white-space:pre-wrap;word-break:break-word;background:#fff;border:1px solid #dde1e7;padding:.5em;margin:.3em 0}
ol.log{font:12px/1.35 monospace;background:#fff;border:1px solid #dde1e7;padding:.5em .5em .5em 5em;white-space:pre-wrap;word-break:break-all}
form.filters{display:flex;flex-wrap:wrap;gap:.5em;align-items:end;margin-bottom:1em}
label{display:flex;flex-direction:column;font-size:12px;color:#4a5568}
input,select,textarea,button{font:inherit;padding:.25em .4em}textarea{width:100%}
.message{background:#fff4d6;border:1px solid #e5c35c;padding:.4em .8em}
.status{font-weight:600}.login{max-width:22em;margin:4em auto;background:#fff;padding:1.5em;border:1px solid #dde1e7}
.login label{margin-bottom:.7em}dl{display:grid;grid-template-columns:max-content auto;gap:.2em 1em}dt{font-weight:600}
svg.chart{background:#fff;border:1px solid #dde1e7;max-width:100%}.legend span{display:inline-block;width:.8em;height:.8em;margin:0 .3em 0 1em}
.wide{flex:1}.pages{margin-top:1em;display:flex;gap:1em}
pre.crash{font:12px/1.35 monospace}td.trend,td.count{text-align:right;white-space:nowrap}
.c0{background:#3b6fd4}.c1{background:#e07b39}.c2{background:#3aa55d}.c3{background:#c94f7c}.c4{background:#8a63d2}.c5{background:#2aa1b3}.c6{background:#b5a022}.c7{background:#777}
)CSS";

namespace {

const char kLayout[] = R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>{{title}} - Brevora reports</title>
<link rel="stylesheet" href="/style.css"></head><body>
{{#frame}}<header><strong>Brevora reports</strong><a href="/">Overview</a><a href="/reports">Reports</a><a href="/crashes">Crashes</a><a href="/alerts">Alerts</a><a href="/publish">Publishing</a>
<span class="user">{{user}}</span><form method="post" action="/logout"><input type="hidden" name="csrf" value="{{csrf}}"><button type="submit">Log out</button></form></header>{{/frame}}
<main>{{#message}}<p class="message">{{message}}</p>{{/message}}
{{{content}}}</main></body></html>
)HTML";

const char kLoginTemplate[] = R"HTML(<form class="login" method="post" action="/login">
<h1>Log in</h1><input type="hidden" name="csrf" value="{{token}}">
<label>Name <input name="name" autocomplete="username" required autofocus></label>
<label>Password <input name="password" type="password" autocomplete="current-password" required></label>
<button type="submit">Log in</button></form>
)HTML";

const char kListTemplate[] = R"HTML(<h1>Reports</h1>
<form class="filters" method="get" action="/reports">
<label>Text <input name="q" value="{{q}}" type="search"></label>
<label>Component <input name="component" value="{{component}}" list="components"></label>
<datalist id="components">{{#components}}<option value="{{.}}">{{/components}}</datalist>
<label>Version <input name="version" value="{{version}}" size="12"></label>
<label>Status <select name="status"><option value="">any</option>{{#statuses}}<option{{#selected}} selected{{/selected}}>{{name}}</option>{{/statuses}}</select></label>
<label>From <input name="from" type="date" value="{{from}}"></label>
<label>To <input name="to" type="date" value="{{to}}"></label>
<button type="submit">Filter</button> <a href="/reports">Clear</a></form>
<table class="reports"><thead><tr><th>Id</th><th>Received (UTC)</th><th>Component</th><th>Version</th><th>E-mail</th><th>What happened</th><th>Status</th></tr></thead><tbody>
{{#lines}}<tr><td><a href="/reports/{{id}}">{{id}}</a>{{#crash}} (crash){{/crash}}</td><td>{{time}}</td><td>{{component}}</td><td class="version">{{version}}</td><td>{{email}}</td><td class="what">{{what}}</td><td class="status">{{status}}</td></tr>
{{/lines}}{{^lines}}<tr><td colspan="7">No report matches.</td></tr>{{/lines}}
</tbody></table>
<p class="pages">{{#newer}}<a href="{{newer}}">&larr; Newer</a>{{/newer}}{{#older}}<a href="{{older}}">Older &rarr;</a>{{/older}}</p>
)HTML";

const char kReportTemplate[] = R"HTML(<h1>Report {{id}}{{#crash}} (crash){{/crash}}</h1>
<dl><dt>Received (UTC)</dt><dd>{{time}}</dd><dt>From</dt><dd>{{peer}}</dd><dt>User agent</dt><dd>{{agent}}</dd>
<dt>Version</dt><dd class="version">{{version}}{{^version}}(none){{/version}}</dd>
{{#email}}<dt>E-mail</dt><dd>{{email}}</dd>{{/email}}{{#component}}<dt>Component</dt><dd class="component">{{component}}</dd>{{/component}}<dt>Status</dt><dd class="status">{{status}}</dd></dl>
{{#texts}}<h2>{{label}}</h2><div class="text">{{text}}</div>{{#cut}}<p class="cut">The first {{cut}} shown; <code>show</code> prints it whole.</p>{{/cut}}
{{/texts}}
{{#folded}}<details><summary>{{label}} ({{size}})</summary><pre>{{text}}</pre>{{#cut}}<p class="cut">The first {{cut}} shown: <a href="{{href}}" download>download the whole file</a>.</p>{{/cut}}</details>
{{/folded}}
<h2>Files</h2><ul class="files">{{#files}}<li>{{label}}: {{#download}}<a href="{{href}}" download>{{name}}</a>{{/download}}{{^download}}{{name}}{{/download}} ({{size}})</li>{{/files}}</ul>
{{#analysis}}<h2>Crash</h2><p>Group: <a href="/crashes/{{group}}">{{signature}}</a></p><pre class="crash">{{text}}</pre>{{#cut}}<p class="cut">The first {{cut}} shown; <code>show</code> prints it whole.</p>{{/cut}}
{{/analysis}}{{#log}}<h2>Log{{#cut}}, last {{shown}} of {{total}} lines{{/cut}}</h2><p><a href="{{href}}" download>Download the whole log</a></p>
<ol class="log" start="{{first}}">{{#lines}}<li>{{.}}</li>{{/lines}}</ol>{{/log}}
<h2>Triage</h2>
<form method="post" action="/reports/{{id}}/triage" class="filters"><input type="hidden" name="csrf" value="{{csrf}}">
<label>Status <select name="status">{{#statuses}}<option{{#selected}} selected{{/selected}}>{{name}}</option>{{/statuses}}</select></label>
<label>Duplicate of # <input name="duplicate_of" inputmode="numeric" size="8" value="{{duplicateOf}}"></label>
<label class="wide">Note <textarea name="note" rows="2">{{note}}</textarea></label>
<button type="submit">Save</button></form>
<h3>History</h3><table class="audit"><thead><tr><th>When (UTC)</th><th>Who</th><th>Status</th><th>Note</th></tr></thead><tbody>
{{#audit}}<tr><td>{{time}}</td><td>{{user}}</td><td>{{status}}</td><td>{{note}}</td></tr>{{/audit}}{{^audit}}<tr><td colspan="4">Not triaged yet.</td></tr>{{/audit}}
</tbody></table>
)HTML";

const char kOverviewTemplate[] = R"HTML(<h1>Overview</h1>
<h2>Reports per day, last 30 days</h2>
<svg class="chart" xmlns="http://www.w3.org/2000/svg" width="{{width}}" height="{{height}}" viewBox="0 0 {{width}} {{height}}" role="img" aria-label="Reports per day and component">
<line x1="40" y1="{{base}}" x2="{{width}}" y2="{{base}}" stroke="#999"/>
<text x="36" y="{{topY}}" text-anchor="end" font-size="11">{{top}}</text><text x="36" y="{{base}}" text-anchor="end" font-size="11">0</text>
{{#bars}}<rect x="{{x}}" y="{{y}}" width="{{w}}" height="{{h}}" fill="{{color}}"><title>{{title}}</title></rect>
{{/bars}}{{#labels}}<text x="{{x}}" y="{{y}}" font-size="10" text-anchor="middle">{{text}}</text>{{/labels}}
</svg>
<p class="legend">{{#legend}}<span class="c{{index}}"></span>{{name}} {{/legend}}</p>
<h2>By status</h2><table class="statuses"><tbody>{{#statuses}}<tr><th><a href="/reports?status={{name}}">{{name}}</a></th><td>{{count}}</td></tr>{{/statuses}}</tbody></table>
)HTML";

const char kPublishTemplate[] = R"HTML(<h1>Publishing</h1>
<form method="post" action="/publish"><input type="hidden" name="csrf" value="{{csrf}}">
<h2>Components</h2><p>One name a line, as the bug-report form offers them.</p>
<textarea name="components" rows="10">{{components}}</textarea>
<h2>Latest version</h2><p class="filters"><label>Version <input name="version" value="{{version}}"></label>
<label class="wide">Update address <input name="update_address" value="{{address}}" size="60"></label></p>
<button type="submit">Publish</button></form>
)HTML";

const char* const kColors[] = {"#3b6fd4", "#e07b39", "#3aa55d", "#c94f7c", "#8a63d2", "#2aa1b3", "#b5a022", "#777"};
const size_t kColorCount = sizeof kColors / sizeof kColors[0];

std::string RenderTemplate(const char* text, const data& values)
{
    mustache tmpl(text);
    return tmpl.render(values);
}

std::string RenderPage(const std::string& title, const PageFrame* frame, const std::string& content,
                       const std::string& message)
{
    data page;
    page.set("title", title);
    if (frame != nullptr) {
        data header;
        header.set("user", frame->user);
        header.set("csrf", frame->csrfToken);
        page.set("frame", header);
    }
    if (!message.empty())
        page.set("message", message);
    page.set("content", content);
    return RenderTemplate(kLayout, page);
}

data MakeStatusOptions(const std::string& selected)
{
    data list(data::type::list);
    for (const char* const* s = kTriageStatuses; *s != nullptr; ++s) {
        data option;
        option.set("name", *s);
        option.set("selected", data(selected == *s));
        list.push_back(option);
    }
    return list;
}

std::string FormatStatus(const std::string& status, int64_t duplicateOf)
{
    return status == "duplicate" && duplicateOf > 0 ? "duplicate of #" + std::to_string(duplicateOf) : status;
}

// A page shows at most this much of any one text or file, and of each
// log line: a page must not grow with the upload.
const size_t kTextShown = 64 * 1024;
const size_t kLogLineShown = 1024;

// The first limit bytes of bytes, ended where a UTF-8 character begins.
std::string CutForPage(const std::string& bytes, size_t limit)
{
    if (bytes.size() <= limit)
        return bytes;
    size_t end = limit;
    for (int back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xc0) == 0x80; ++back)
        --end;
    return bytes.substr(0, end);
}

data MakeText(const std::string& label, const std::string& bytes)
{
    data text;
    text.set("label", label);
    text.set("text", MakeDisplayText(CutForPage(bytes, kTextShown)));
    if (bytes.size() > kTextShown)
        text.set("cut", "64 KiB of " + std::to_string(bytes.size()) + " bytes");
    return text;
}

data MakeFolded(int64_t id, const std::string& label, const std::string& slot, const ReportFile& file)
{
    data folded;
    folded.set("label", label);
    folded.set("size", DescribeAttachment(file));
    folded.set("text", MakeDisplayText(CutForPage(file.content, kTextShown)));
    if (file.content.size() > kTextShown) {
        folded.set("cut", "64 KiB");
        folded.set("href", "/reports/" + std::to_string(id) + "/files/" + slot);
    }
    return folded;
}

data MakeFileLine(int64_t id, const std::string& label, const std::string& slot, const ReportFile& file)
{
    data line;
    line.set("label", label);
    line.set("size", DescribeAttachment(file));
    line.set("name", MakeDisplayText(file.name.empty() ? "(no name)" : file.name));
    if (file.state == FileState::Content) {
        data download;
        download.set("href", "/reports/" + std::to_string(id) + "/files/" + slot);
        download.set("name", MakeDisplayText(file.name.empty() ? slot : file.name));
        line.set("download", download);
    }
    return line;
}

const size_t kLogLinesShown = 500;

data MakeLogTail(int64_t id, const ReportFile& log)
{
    size_t first = 1;
    const std::vector<std::string> lines = TakeLastLines(log.content, kLogLinesShown, first);
    data tail;
    tail.set("href", "/reports/" + std::to_string(id) + "/files/log");
    tail.set("first", std::to_string(first));
    tail.set("shown", std::to_string(lines.size()));
    tail.set("total", std::to_string(first - 1 + lines.size()));
    tail.set("cut", data(first > 1));
    data list(data::type::list);
    for (const std::string& line : lines)
        list.push_back(data(MakeDisplayText(CutForPage(line, kLogLineShown)) + (line.size() > kLogLineShown ? " [...]" : "")));
    tail.set("lines", list);
    return tail;
}

void SetTriage(data& page, const PageFrame& frame, const Triage& triage, const std::vector<AuditEntry>& audit)
{
    page.set("csrf", frame.csrfToken);
    page.set("status", FormatStatus(triage.status, triage.duplicateOf));
    page.set("statuses", MakeStatusOptions(triage.status));
    page.set("duplicateOf", triage.duplicateOf > 0 ? std::to_string(triage.duplicateOf) : std::string());
    page.set("note", triage.note);
    data lines(data::type::list);
    for (const AuditEntry& entry : audit) {
        data line;
        line.set("time", FormatTime(entry.atUtc));
        line.set("user", entry.user);
        line.set("status", FormatStatus(entry.triage.status, entry.triage.duplicateOf));
        line.set("note", entry.triage.note);
        lines.push_back(line);
    }
    page.set("audit", lines);
}

void SetOrigin(data& page, int64_t id, const ReportOrigin& origin)
{
    page.set("id", std::to_string(id));
    page.set("time", FormatTime(origin.receivedUtc));
    page.set("peer", MakeDisplayText(origin.peer));
    page.set("agent", MakeDisplayText(origin.userAgent));
}

}  // namespace

std::string MakeDisplayText(const std::string& bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        const size_t length = c < 0x80 ? 1 : MeasureUtf8Sequence(bytes, i);
        // C0 and C1 controls (and DEL) as \xNN, as show prints them; a C1
        // control written in UTF-8 counts as its code.
        unsigned int code = c;
        if (length == 2)
            code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(bytes[i + 1]) & 0x3Fu);
        const bool control = (length <= 2 && (code < 0x20 || (code >= 0x7F && code <= 0x9F))) &&
                             code != '\n' && code != '\t';
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            ++i;  // CR LF is a line break
        } else if (control) {
            text += "\\x";
            text += hex[code >> 4];
            text += hex[code & 15];
            i += length == 0 ? 1 : length;
        } else if (length > 0) {
            text.append(bytes, i, length);
            i += length;
        } else {
            // A byte of an 8-bit code page: its Latin-1 character.
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return text;
}

std::vector<std::string> TakeLastLines(const std::string& text, size_t count, size_t& firstNumber)
{
    // From the end: a log of megabytes is not split whole for 500 lines.
    firstNumber = 1;
    std::vector<std::string> lines;
    if (text.empty() || count == 0)
        return lines;
    size_t stop = text.size();
    if (text[stop - 1] == '\n')
        --stop;
    bool atStart = false;
    while (lines.size() < count) {
        const size_t lineFeed = stop == 0 ? std::string::npos : text.rfind('\n', stop - 1);
        const size_t start = lineFeed == std::string::npos ? 0 : lineFeed + 1;
        std::string line = text.substr(start, stop - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        if (lineFeed == std::string::npos) {
            atStart = true;
            break;
        }
        stop = lineFeed;
    }
    std::reverse(lines.begin(), lines.end());
    if (!atStart)
        firstNumber = static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<long>(stop), '\n')) + 2;
    return lines;
}

std::string MakeSafeFileName(const std::string& name, const std::string& fallback)
{
    // The part after the last slash or backslash: a name is never a path.
    const size_t slash = name.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string safe;
    for (char c : base) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        if (safe.size() < 100)
            safe += plain ? c : '_';
    }
    // Nor hidden, nor read as an option by the tools a maintainer runs on it.
    while (!safe.empty() && (safe[0] == '.' || safe[0] == '-'))
        safe.erase(0, 1);
    if (safe.find_first_not_of("._") == std::string::npos)
        return fallback;
    return safe;
}

std::string FormatTime(const std::string& utc)
{
    if (utc.size() < 19)
        return utc;
    return utc.substr(0, 10) + " " + utc.substr(11, 8);
}

std::string RenderFramedPage(const std::string& title, const PageFrame& frame, const std::string& content)
{
    return RenderPage(title, &frame, content, frame.message);
}

std::string RenderLoginPage(const std::string& loginToken, const std::string& message)
{
    data form;
    form.set("token", loginToken);
    return RenderPage("Log in", nullptr, RenderTemplate(kLoginTemplate, form), message);
}

std::string RenderReportList(const PageFrame& frame, const ReportFilter& filter, const std::vector<ReportLine>& lines,
                             const std::vector<std::string>& components, const std::string& newerLink,
                             const std::string& olderLink)
{
    data page;
    page.set("q", filter.text);
    page.set("component", filter.component);
    page.set("version", filter.version);
    data offered(data::type::list);
    for (const std::string& component : components)
        offered.push_back(data(MakeDisplayText(component)));
    page.set("components", offered);
    page.set("from", filter.fromDate);
    page.set("to", filter.toDate);
    page.set("statuses", MakeStatusOptions(filter.status));
    data list(data::type::list);
    for (const ReportLine& line : lines) {
        data row;
        row.set("id", std::to_string(line.id));
        row.set("crash", data(line.kind == ReportKind::Crash));
        row.set("time", FormatTime(line.receivedUtc));
        row.set("component", MakeDisplayText(line.component));
        row.set("version", MakeDisplayText(line.version));
        row.set("email", MakeDisplayText(line.email));
        row.set("what", MakeDisplayText(GetFirstLine(line.whatHappened)));
        row.set("status", line.status);
        list.push_back(row);
    }
    page.set("lines", list);
    if (!newerLink.empty())
        page.set("newer", newerLink);
    if (!olderLink.empty())
        page.set("older", olderLink);
    return RenderPage("Reports", &frame, RenderTemplate(kListTemplate, page), frame.message);
}

std::string RenderBugReport(const PageFrame& frame, const StoredReport& stored, const Triage& triage,
                            const std::vector<AuditEntry>& audit)
{
    const Report& report = stored.report;
    // The texts as the user typed them, from the code page they came in.
    const auto typed = [&](const std::string& bytes) { return ConvertFromCodePage(bytes, report.codePage); };
    data page;
    SetOrigin(page, stored.id, stored.origin);
    if (!report.version.empty())
        page.set("version", MakeDisplayText(typed(report.version)));
    if (!report.email.empty())
        page.set("email", MakeDisplayText(typed(report.email)));
    if (!report.component.empty())
        page.set("component", MakeDisplayText(typed(report.component)));
    data texts(data::type::list);
    texts.push_back(MakeText("Steps to reproduce", typed(report.description1)));
    texts.push_back(MakeText("What happened", typed(report.description2)));
    texts.push_back(MakeText("What should have happened", typed(report.description3)));
    texts.push_back(MakeText("System information", typed(report.systemInfo)));
    page.set("texts", texts);
    data folded(data::type::list);
    folded.push_back(MakeFolded(stored.id, "Diagnostic report", "attachment", report.attachment));
    page.set("folded", folded);
    data files(data::type::list);
    files.push_back(MakeFileLine(stored.id, "Diagnostic report", "attachment", report.attachment));
    files.push_back(MakeFileLine(stored.id, "Log", "log", report.attachmentLog));
    page.set("files", files);
    if (report.attachmentLog.state == FileState::Content)
        page.set("log", MakeLogTail(stored.id, report.attachmentLog));
    SetTriage(page, frame, triage, audit);
    return RenderPage("Report " + std::to_string(stored.id), &frame, RenderTemplate(kReportTemplate, page),
                      frame.message);
}

std::string RenderCrashReport(const PageFrame& frame, const StoredCrashReport& stored, const Triage& triage,
                              const std::vector<AuditEntry>& audit, const CrashAnalysis& analysis)
{
    const CrashReport& report = stored.report;
    data page;
    SetOrigin(page, stored.id, stored.origin);
    page.set("crash", data(true));
    if (!report.version.empty())
        page.set("version", MakeDisplayText(report.version));
    data texts(data::type::list);
    texts.push_back(MakeText("Comment", report.comment));
    page.set("texts", texts);
    data folded(data::type::list);
    folded.push_back(MakeFolded(stored.id, "Configuration", "conf", report.conf));
    page.set("folded", folded);
    data files(data::type::list);
    files.push_back(MakeFileLine(stored.id, "Dump", "dump", report.dump));
    files.push_back(MakeFileLine(stored.id, "Log", "log", report.log));
    files.push_back(MakeFileLine(stored.id, "Configuration", "conf", report.conf));
    page.set("files", files);
    if (report.log.state == FileState::Content)
        page.set("log", MakeLogTail(stored.id, report.log));
    if (analysis.reportId != 0) {
        data crash;
        crash.set("group", std::to_string(analysis.groupId));
        crash.set("signature", MakeDisplayText(analysis.signature));
        crash.set("text", MakeDisplayText(CutForPage(analysis.text, kTextShown)));
        if (analysis.text.size() > kTextShown)
            crash.set("cut", "64 KiB of " + std::to_string(analysis.text.size()) + " bytes");
        page.set("analysis", crash);
    }
    SetTriage(page, frame, triage, audit);
    return RenderPage("Crash report " + std::to_string(stored.id), &frame, RenderTemplate(kReportTemplate, page),
                      frame.message);
}

std::string RenderOverview(const PageFrame& frame, const std::vector<std::string>& days,
                           const std::vector<DayCount>& counts, const std::vector<StatusCount>& statuses)
{
    // Components in order of first appearance get the palette's colours;
    // past its end they share the last.
    std::map<std::string, size_t> colorOf;
    std::vector<std::string> components;
    std::map<std::string, int64_t> dayTotals;
    for (const DayCount& count : counts) {
        if (colorOf.insert(std::make_pair(count.component, std::min(components.size(), kColorCount - 1))).second)
            components.push_back(count.component);
        dayTotals[count.day] += count.count;
    }
    int64_t top = 1;
    for (const auto& total : dayTotals)
        top = std::max(top, total.second);

    const int width = 40 + 20 * static_cast<int>(days.size()) + 10;
    const int height = 220;
    const int base = 190;
    const double scale = 170.0 / static_cast<double>(top);
    data bars(data::type::list);
    data labels(data::type::list);
    for (size_t i = 0; i < days.size(); ++i) {
        const int x = 44 + 20 * static_cast<int>(i);
        double y = base;
        for (const DayCount& count : counts) {
            if (count.day != days[i])
                continue;
            const double h = static_cast<double>(count.count) * scale;
            y -= h;
            data bar;
            bar.set("x", std::to_string(x));
            bar.set("y", std::to_string(y));
            bar.set("w", "16");
            bar.set("h", std::to_string(h));
            bar.set("color", kColors[colorOf[count.component]]);
            bar.set("title", days[i] + " " + MakeDisplayText(count.component.empty() ? "(none)" : count.component) +
                                 ": " + std::to_string(count.count));
            bars.push_back(bar);
        }
        if (i % 5 == 0 || i + 1 == days.size()) {
            data label;
            label.set("x", std::to_string(x + 8));
            label.set("y", std::to_string(base + 14));
            label.set("text", days[i].substr(5));
            labels.push_back(label);
        }
    }
    data legend(data::type::list);
    for (const std::string& component : components) {
        data entry;
        entry.set("index", std::to_string(colorOf[component]));
        entry.set("name", MakeDisplayText(component.empty() ? "(none)" : component));
        legend.push_back(entry);
    }
    data statusList(data::type::list);
    for (const char* const* s = kTriageStatuses; *s != nullptr; ++s) {
        int64_t n = 0;
        for (const StatusCount& count : statuses) {
            if (count.status == *s)
                n = count.count;
        }
        data row;
        row.set("name", *s);
        row.set("count", std::to_string(n));
        statusList.push_back(row);
    }

    data page;
    page.set("width", std::to_string(width));
    page.set("height", std::to_string(height));
    page.set("base", std::to_string(base));
    page.set("top", std::to_string(top));
    page.set("topY", std::to_string(base - 170 + 4));
    page.set("bars", bars);
    page.set("labels", labels);
    page.set("legend", legend);
    page.set("statuses", statusList);
    return RenderPage("Overview", &frame, RenderTemplate(kOverviewTemplate, page), frame.message);
}

std::string RenderPublishPage(const PageFrame& frame, const std::string& components, const std::string& version,
                              const std::string& updateAddress)
{
    data page;
    page.set("csrf", frame.csrfToken);
    page.set("components", MakeDisplayText(components));
    page.set("version", MakeDisplayText(version));
    page.set("address", MakeDisplayText(updateAddress));
    return RenderPage("Publishing", &frame, RenderTemplate(kPublishTemplate, page), frame.message);
}
