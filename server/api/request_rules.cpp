#include "server/api/request_rules.h"
#include "server/base/ascii_text.h"
#include "server/base/decimal_text.h"

const char kComponentsPath[] = "/bugreport/components/";
const char kLatestVersionPath[] = "/bugreport/latest_version";
const char kReportPath[] = "/bugreport/report/";
const char kCrashPath[] = "/bugreport/crash/";

// Digits only, no sign or spaces; false on overflow.
static bool ParseLength(const std::string& text, uint64_t& length)
{
    return ParseDecimalDigits(text, 19, length);
}

static RequestVerdict Refuse(int status, const std::string& reason)
{
    RequestVerdict verdict;
    verdict.status = status;
    verdict.reason = reason;
    return verdict;
}

RequestVerdict CheckRequestHead(const RequestHead& head, uint64_t maxBody, uint64_t maxCrashBody)
{
    const bool query = head.path == kComponentsPath || head.path == kLatestVersionPath;
    const bool upload = head.path == kReportPath || head.path == kCrashPath;
    if (head.path == kCrashPath)
        maxBody = maxCrashBody;
    if (!query && !upload)
        return Refuse(404, "no such path");

    if (query) {
        if (head.method == "GET" || head.method == "HEAD")
            return RequestVerdict();
        RequestVerdict verdict = Refuse(405, head.method + " is not allowed here; use GET");
        verdict.allow = "GET, HEAD";
        return verdict;
    }

    if (head.method != "POST") {
        RequestVerdict verdict = Refuse(405, head.method + " is not allowed here; use POST");
        verdict.allow = "POST";
        return verdict;
    }
    if (ToLowerAscii(head.contentType).find("multipart/") != std::string::npos)
        return Refuse(415, "multipart bodies are not accepted; send the report records as they are");

    const bool chunked = ToLowerAscii(head.transferEncoding).find("chunked") != std::string::npos;
    if (head.hasContentLength) {
        uint64_t length = 0;
        if (!ParseLength(head.contentLength, length))
            return Refuse(400, "bad Content-Length");
        if (length > maxBody)
            return Refuse(413, "body of " + std::to_string(length) + " bytes is over the limit of " +
                                   std::to_string(maxBody) + " bytes");
    } else if (!chunked) {
        return Refuse(411, "Content-Length required");
    }
    return RequestVerdict();
}
