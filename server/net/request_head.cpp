#include "server/net/request_head.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "server/base/ascii_text.h"
#include "server/base/decimal_text.h"

namespace {

// Method, two spaces and "HTTP/1.1" around the target, with room to spare.
const size_t kRequestLineExtra = 32;

// The methods httplib routes; any other is refused here, not by httplib.
const char* const kMethods[] = {"GET", "HEAD", "POST", "PUT", "DELETE", "OPTIONS", "PATCH"};

bool IsTokenChar(unsigned char c)
{
    return std::isalnum(c) != 0 || (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool IsToken(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return IsTokenChar(c); });
}

void AppendListValue(std::string& list, const std::string& value)
{
    list += (list.empty() ? "" : ", ") + value;
}

HeadVerdict Refuse(int status, const std::string& reason)
{
    HeadVerdict verdict;
    verdict.status = status;
    verdict.reason = reason;
    return verdict;
}

// What the head's fields say about the body and the client, gathered while
// the lines are checked.
struct Fields
{
    int hosts = 0;
    bool hasLength = false;
    uint64_t length = 0;
    bool hasCoding = false;
    std::string coding;
    std::string forwardedFor;
    std::string forwarded;
};

// One value of Content-Length, a list of them allowed when all agree;
// false with reason set when it is malformed or disagrees with one before.
bool TakeContentLength(const std::string& value, Fields& fields, std::string& reason)
{
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        uint64_t length = 0;
        if (!ParseDecimalDigits(TrimSpacesAndTabs(value.substr(start, comma - start)), 19, length)) {
            reason = "malformed Content-Length";
            return false;
        }
        if (fields.hasLength && length != fields.length) {
            reason = "two different Content-Length values";
            return false;
        }
        fields.hasLength = true;
        fields.length = length;
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// Checks one header line (without its CRLF); false with reason set when it
// is refused.
bool TakeHeaderLine(const char* line, size_t size, Fields& fields, std::string& reason)
{
    if (line[0] == ' ' || line[0] == '\t') {
        reason = "folded header line";
        return false;
    }
    const char* colon = static_cast<const char*>(std::memchr(line, ':', size));
    const std::string name(line, colon != nullptr ? static_cast<size_t>(colon - line) : size);
    if (colon == nullptr || !IsToken(name)) {
        reason = "malformed header line";
        return false;
    }
    const std::string value = TrimSpacesAndTabs(std::string(colon + 1, line + size));
    for (unsigned char c : value) {
        if ((c < 0x20 && c != '\t') || c == 0x7f) {
            reason = "control byte in the value of " + name;
            return false;
        }
    }
    const std::string lower = ToLowerAscii(name);
    if (lower == "content-length")
        return TakeContentLength(value, fields, reason);
    if (lower == "transfer-encoding") {
        fields.hasCoding = true;
        AppendListValue(fields.coding, value);
    } else if (lower == "host") {
        ++fields.hosts;
    } else if (lower == "x-forwarded-for") {
        AppendListValue(fields.forwardedFor, value);
    } else if (lower == "forwarded") {
        AppendListValue(fields.forwarded, value);
    }
    return true;
}

// Checks the request line (without its CRLF); 0, or the status to refuse
// it with and reason.
int CheckRequestLine(const std::string& line, const HeadLimits& limits, std::string& method, std::string& version,
                     std::string& reason)
{
    const size_t space = line.find(' ');
    const size_t second = space == std::string::npos ? space : line.find(' ', space + 1);
    if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos) {
        reason = "malformed request line";
        return 400;
    }
    method = line.substr(0, space);
    const std::string target = line.substr(space + 1, second - space - 1);
    version = line.substr(second + 1);
    if (target.size() > limits.maxTargetBytes) {
        reason = "request target over " + std::to_string(limits.maxTargetBytes) + " bytes";
        return 414;
    }
    const bool plainTarget = std::all_of(target.begin(), target.end(), [](unsigned char c) {
        return c > 0x20 && c < 0x7f;
    });
    if (!IsToken(method) || target.empty() || !plainTarget) {
        reason = "malformed request line";
        return 400;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        const bool looksLikeHttp = version.size() == 8 && version.compare(0, 5, "HTTP/") == 0 &&
                                   std::isdigit(static_cast<unsigned char>(version[5])) && version[6] == '.' &&
                                   std::isdigit(static_cast<unsigned char>(version[7]));
        reason = "unsupported version " + (looksLikeHttp ? version : std::string("in the request line"));
        return looksLikeHttp ? 505 : 400;
    }
    if (std::find(std::begin(kMethods), std::end(kMethods), method) == std::end(kMethods)) {
        reason = "unknown method";
        return 501;
    }
    return 0;
}

// The framing the fields give the body, or a refusal.
HeadVerdict DecideFraming(const Fields& fields, const std::string& method, const std::string& version)
{
    HeadVerdict verdict;
    if (version == "HTTP/1.1" && fields.hosts != 1)
        return Refuse(400, "a request needs exactly one Host");
    if (fields.hasCoding) {
        // Either could end the body, and a proxy in front may pick the other.
        if (fields.hasLength)
            return Refuse(400, "both Content-Length and Transfer-Encoding");
        if (version != "HTTP/1.1")
            return Refuse(400, "Transfer-Encoding in an HTTP/1.0 request");
        if (ToLowerAscii(fields.coding) != "chunked")
            return Refuse(400, "transfer coding other than chunked alone");
        verdict.framing = BodyFraming::Chunked;
    } else if (fields.length > 0) {
        verdict.framing = BodyFraming::Length;
        verdict.contentLength = fields.length;
    }
    if ((method == "GET" || method == "HEAD") && verdict.framing != BodyFraming::None)
        return Refuse(400, "a body on " + method);
    verdict.status = 0;
    return verdict;
}

HeadVerdict RefuseOverLimits(const HeadLimits& limits)
{
    return Refuse(431, "request head over " + std::to_string(limits.maxBytes) + " bytes");
}

}  // namespace

HeadVerdict ScanRequestHead(const char* data, size_t size, const HeadLimits& limits)
{
    // Empty lines before a request line are skipped: some clients end a
    // body with one more CRLF than it has.
    size_t start = 0;
    while (start + 1 < size && data[start] == '\r' && data[start + 1] == '\n' && start < limits.maxBytes)
        start += 2;
    const char* lineFeed = static_cast<const char*>(std::memchr(data + start, '\n', size - start));
    if (lineFeed == nullptr) {
        if (size - start > limits.maxTargetBytes + kRequestLineExtra)
            return Refuse(414, "request line over " + std::to_string(limits.maxTargetBytes + kRequestLineExtra) +
                                   " bytes");
        return size > limits.maxBytes ? RefuseOverLimits(limits) : HeadVerdict();
    }
    size_t end = static_cast<size_t>(lineFeed - data);
    if (end == start || data[end - 1] != '\r')
        return Refuse(400, "request line not ended by CRLF");
    std::string method;
    std::string version;
    std::string reason;
    const int lineStatus = CheckRequestLine(std::string(data + start, end - 1 - start), limits, method, version, reason);
    if (lineStatus != 0)
        return Refuse(lineStatus, reason);

    Fields fields;
    size_t lines = 0;
    for (size_t pos = end + 1;; pos = end + 1) {
        lineFeed = static_cast<const char*>(std::memchr(data + pos, '\n', size - pos));
        end = lineFeed != nullptr ? static_cast<size_t>(lineFeed - data) : size;
        if (end + 1 > limits.maxBytes)
            return RefuseOverLimits(limits);
        if (end - pos > limits.maxLineBytes)
            return Refuse(431, "header line over " + std::to_string(limits.maxLineBytes) + " bytes");
        if (lineFeed == nullptr)
            return HeadVerdict();
        if (end == pos || data[end - 1] != '\r')
            return Refuse(400, "header line not ended by CRLF");
        if (end - 1 == pos)
            break;
        if (++lines > limits.maxLines)
            return Refuse(431, "over " + std::to_string(limits.maxLines) + " header lines");
        if (!TakeHeaderLine(data + pos, end - 1 - pos, fields, reason))
            return Refuse(400, reason);
    }
    HeadVerdict framing = DecideFraming(fields, method, version);
    if (framing.status != 0)
        return framing;
    framing.forwardedFor = fields.forwardedFor;
    framing.forwarded = fields.forwarded;
    framing.skipped = start;
    framing.length = end + 1 - start;
    return framing;
}

size_t ChunkScanner::Scan(const char* data, size_t size)
{
    // A size line's extension, bounded: it is read and thrown away.
    const size_t kMaxLineBytes = 4096;
    size_t i = 0;
    while (i < size && m_state != State::Done && m_state != State::Failed) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        State next = State::Failed;
        switch (m_state) {
        case State::Size:
            if (std::isxdigit(c) != 0 && m_digits < 15) {
                ++m_digits;
                m_left = m_left * 16 + static_cast<uint64_t>(std::isdigit(c) != 0 ? c - '0' : std::tolower(c) - 'a' + 10);
                next = State::Size;
            } else if (m_digits > 0 && (c == ';' || c == '\r')) {
                next = c == ';' ? State::Extension : State::SizeLf;
            }
            break;
        case State::Extension:
            if (c == '\r')
                next = State::SizeLf;
            else if ((c >= 0x20 || c == '\t') && c != 0x7f && ++m_lineBytes <= kMaxLineBytes)
                next = State::Extension;
            break;
        case State::SizeLf:
            if (c == '\n')
                next = m_left == 0 ? State::EndCr : State::Data;
            m_digits = 0;
            m_lineBytes = 0;
            break;
        case State::Data: {
            const uint64_t take = std::min<uint64_t>(m_left, size - i);
            m_left -= take;
            m_dataBytes += take;
            i += static_cast<size_t>(take);
            m_state = m_left == 0 ? State::DataCr : State::Data;
            continue;
        }
        case State::DataCr:
        case State::EndCr:
            if (c == '\r')
                next = m_state == State::DataCr ? State::DataLf : State::EndLf;
            break;
        case State::DataLf:
        case State::EndLf:
            if (c == '\n')
                next = m_state == State::DataLf ? State::Size : State::Done;
            break;
        case State::Done:
        case State::Failed:
            break;
        }
        m_state = next;
        if (next != State::Failed)
            ++i;
    }
    return i;
}

const char* DescribeHeadStatus(int status)
{
    switch (status) {
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    case 501:
        return "Not Implemented";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Bad Request";
    }
}

namespace {

// Calls take(name in lower case, value) for each field line of an answer's
// head, with the line's bounds; stops when take returns false.
template <typename Take>
void ForEachAnswerField(const std::string& head, Take take)
{
    size_t pos = head.find("\r\n");
    while (pos != std::string::npos && pos + 2 < head.size()) {
        const size_t start = pos + 2;
        const size_t end = head.find("\r\n", start);
        if (end == std::string::npos || end == start)
            return;
        const size_t colon = head.find(':', start);
        if (colon < end && !take(ToLowerAscii(head.substr(start, colon - start)),
                                 ToLowerAscii(TrimSpacesAndTabs(head.substr(colon + 1, end - colon - 1))), start, end + 2))
            return;
        pos = end;
    }
}

}  // namespace

bool SaysConnectionClose(const std::string& head)
{
    bool close = false;
    ForEachAnswerField(head, [&close](const std::string& name, const std::string& value, size_t, size_t) {
        if (name != "connection")
            return true;
        for (size_t start = 0; start <= value.size();) {
            const size_t comma = std::min(value.find(',', start), value.size());
            close = close || TrimSpacesAndTabs(value.substr(start, comma - start)) == "close";
            start = comma + 1;
        }
        return !close;
    });
    return close;
}

std::string MakeAnswerHeadClose(const std::string& head)
{
    std::string kept;
    size_t copied = 0;
    ForEachAnswerField(head, [&](const std::string& name, const std::string&, size_t start, size_t end) {
        if (name == "connection" || name == "keep-alive") {
            kept.append(head, copied, start - copied);
            copied = end;
        }
        return true;
    });
    kept.append(head, copied, std::string::npos);
    kept.insert(kept.size() - 2, "Connection: close\r\n");
    return kept;
}
