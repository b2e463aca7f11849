#include "server/store/report_text.h"

#include "server/base/code_page_text.h"
#include "server/base/log_text.h"

namespace {

std::string ShowText(const std::string& text, bool raw)
{
    return raw ? text : EscapeControlBytes(text, true);
}

void AppendSection(std::string& out, const char* title, const std::string& shown)
{
    out += "\n--- ";
    out += title;
    out += " ---\n";
    out += shown;
    if (!shown.empty() && shown.back() != '\n')
        out += '\n';
}

}  // namespace

std::string FormatListLine(const ReportSummary& summary)
{
    const std::string email = summary.email.empty() ? "-" : EscapeControlBytes(summary.email, false);
    const std::string line = GetFirstLine(summary.description1Start);
    return std::to_string(summary.id) + "\t" + NameReportKind(summary.kind) + "\t" + summary.receivedUtc + "\t" + email + "\t" +
           (line.empty() ? "-" : EscapeControlBytes(line, false));
}

std::string DescribeAttachment(const ReportFile& file)
{
    switch (file.state) {
    case FileState::Content:
        return std::to_string(file.content.size()) + " bytes";
    case FileState::Placeholder:
        return "no content (the file was empty or missing on the sender's side)";
    case FileState::Empty:
        break;
    }
    return "no content (the sender could not read the file, or it began with a NUL byte)";
}

namespace {

void AppendOrigin(std::string& out, const ReportOrigin& origin)
{
    out += "Received:     " + origin.receivedUtc + " (UTC)\n";
    out += "From:         " + origin.peer + "\n";
    out += "User agent:   " + ShowText(origin.userAgent, false) + "\n";
}

// "name, 1234 bytes" and the line end.
std::string DescribeFileLine(const ReportFile& file)
{
    return ShowText(file.name, false) + ", " + DescribeAttachment(file) + "\n";
}

}  // namespace

std::string FormatReport(const StoredReport& stored, bool raw)
{
    const Report& r = stored.report;
    // The texts as typed: from the sender's code page (raw: its bytes).
    const auto typed = [&](const std::string& bytes, bool keepBytes) {
        return keepBytes ? bytes : EscapeControlCharacters(ConvertFromCodePage(bytes, r.codePage));
    };
    std::string out;
    out += "Report:       " + std::to_string(stored.id) + "\n";
    AppendOrigin(out, stored.origin);
    out += "Version:      " + (r.version.empty() ? std::string("(none)") : typed(GetFirstLine(r.version), false)) + "\n";
    out += "Code page:    " + (r.codePage.empty() ? std::string("(none: Windows-1252 taken)") : ShowText(r.codePage, false)) + "\n";
    out += "E-mail:       " + (r.email.empty() ? std::string("(none)") : typed(r.email, false)) + "\n";
    out += "Component:    " + (r.component.empty() ? std::string("(none)") : typed(r.component, false)) + "\n";
    out += "Attachment:   " + DescribeFileLine(r.attachment);
    out += "Log:          " + DescribeFileLine(r.attachmentLog);
    out += "Raw body:     " + std::to_string(stored.rawBody.size()) + " bytes\n";
    AppendSection(out, "Steps to reproduce (description1)", typed(r.description1, raw));
    AppendSection(out, "What happened (description2)", typed(r.description2, raw));
    AppendSection(out, "What should have happened (description3)", typed(r.description3, raw));
    AppendSection(out, "System information (description4)", typed(r.systemInfo, raw));
    return out;
}

std::string FormatCrashReport(const StoredCrashReport& stored, bool raw)
{
    const CrashReport& r = stored.report;
    std::string out;
    out += "Crash report: " + std::to_string(stored.id) + "\n";
    AppendOrigin(out, stored.origin);
    out += "Version:      " + (r.version.empty() ? std::string("(none)") : EscapeControlCharacters(r.version)) + "\n";
    out += "Dump:         " + DescribeFileLine(r.dump);
    out += "Log:          " + DescribeFileLine(r.log);
    out += "Settings:     " + DescribeFileLine(r.conf);
    out += "Raw body:     " + std::to_string(stored.rawBody.size()) + " bytes\n";
    AppendSection(out, "Comment (UTF-8)", ShowText(r.comment, raw));
    return out;
}
