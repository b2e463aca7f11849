#include "server/report_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>

namespace {

const char kDefaultCodePage[] = "CP1252";

// glibc's name of a Windows code page.
std::string NameCodePage(const std::string& codePage)
{
    if (codePage.empty() || codePage.size() > 5 || codePage.find_first_not_of("0123456789") != std::string::npos)
        return kDefaultCodePage;
    if (codePage == "65001")
        return "UTF-8";
    return "CP" + std::to_string(std::strtoul(codePage.c_str(), nullptr, 10));
}

class ScopedIconv
{
public:
    explicit ScopedIconv(iconv_t cd) : m_cd(cd) {}
    ~ScopedIconv()
    {
        if (IsOpen())
            iconv_close(m_cd);
    }
    ScopedIconv(const ScopedIconv&) = delete;
    ScopedIconv& operator=(const ScopedIconv&) = delete;
    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

std::string EscapeByte(unsigned char c)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string escaped = "\\x";
    escaped += hex[c >> 4];
    escaped += hex[c & 0x0F];
    return escaped;
}

std::string ShowText(const std::string& text, bool raw)
{
    return raw ? text : EscapeControlBytes(text, true);
}

// Converted text for a terminal: C0 and C1 controls (and DEL) as \xNN, the
// rest of the UTF-8 as it is; LF and TAB kept, the CR of a CR LF dropped.
std::string EscapeControlCharacters(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const unsigned char next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
        if (c == 0xC2 && next >= 0x80 && next < 0xA0) {
            out += EscapeByte(next);
            ++i;
        } else if (c < 0x80) {
            out += EscapeControlBytes(std::string(1, static_cast<char>(c)), true);
            if (c == '\r' && next == '\n')
                out.resize(out.size() - 4);  // CR LF: the LF alone ends the line
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
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

std::string EscapeControlBytes(const std::string& bytes, bool keepLineBreaks)
{
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (keepLineBreaks && (c == '\n' || c == '\t')) {
            out += static_cast<char>(c);
        } else if (keepLineBreaks && c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            // Windows line ends: the LF alone ends the line on a terminal.
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
            out += EscapeByte(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string ConvertFromCodePage(const std::string& bytes, const std::string& codePage)
{
    ScopedIconv cd(iconv_open("UTF-8", NameCodePage(codePage).c_str()));
    if (!cd.IsOpen()) {
        // A code page glibc does not know: the texts' most likely one.
        ScopedIconv fallback(iconv_open("UTF-8", kDefaultCodePage));
        return fallback.IsOpen() ? ConvertFromCodePage(bytes, kDefaultCodePage) : bytes;
    }
    std::string out;
    char block[4096];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* to = block;
        size_t toLeft = sizeof block;
        const size_t done = iconv(cd.Get(), &in, &inLeft, &to, &toLeft);
        const int failure = errno;
        out.append(block, static_cast<size_t>(to - block));
        if (done != static_cast<size_t>(-1) || failure == E2BIG)
            continue;
        // EILSEQ, or EINVAL for a sequence cut short at the end: that byte
        // as \xNN, and on with the next.
        out += EscapeByte(static_cast<unsigned char>(*in));
        ++in;
        --inLeft;
        iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string GetFirstLine(const std::string& text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}

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
