#include "server/api/report_routes.h"

#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>

#include "server/api/request_rules.h"
#include "server/base/file_io.h"
#include "server/base/log_text.h"
#include "server/net/connection_guard.h"
#include "server/net/listen_address.h"
#include "server/report/report_parser.h"
#include "server/store/report_store.h"
#include "server/store/report_text.h"

namespace {

// Per request, for the log line. httplib serves a connection on one
// worker thread from its head to its response, so a thread-local suffices.
struct RequestStats
{
    bool started = false;
    std::chrono::steady_clock::time_point start;
    size_t received = 0;
};

// Every answer here is text; nosniff keeps a browser from reading it as more.
const char kTextType[] = "text/plain; charset=utf-8";

thread_local RequestStats g_requestStats;  // one per worker thread

void StartRequestStats()
{
    g_requestStats.started = true;
    g_requestStats.start = std::chrono::steady_clock::now();
    g_requestStats.received = 0;
}

void Refuse(httplib::Response& res, int status, const std::string& reason)
{
    res.status = status;
    res.set_content(reason + "\n", kTextType);
}

// Answers and makes the client open a new connection: its body, if any, was
// not read and would otherwise be taken for the next request.
void RefuseAndClose(httplib::Response& res, int status, const std::string& reason)
{
    Refuse(res, status, reason);
    res.set_header("Connection", "close");
}

RequestHead DescribeHead(const httplib::Request& req)
{
    RequestHead head;
    head.method = req.method;
    head.path = req.path;
    head.hasContentLength = req.has_header("Content-Length");
    head.contentLength = req.get_header_value("Content-Length");
    head.transferEncoding = req.get_header_value("Transfer-Encoding");
    head.contentType = req.get_header_value("Content-Type");
    return head;
}

// Room for a report of bodySize bytes: the raw body and its decoded
// payloads go through the write-ahead log and then into the database.
uint64_t EstimateStoredSize(uint64_t bodySize)
{
    return bodySize * 4;
}

bool RefuseForRate(AddressRateLimiter* limiter, const httplib::Request& req, httplib::Response& res,
                   const char* what)
{
    int retryAfter = 0;
    if (limiter == nullptr || limiter->Take(GetAddressKey(req.remote_addr), GetSteadySeconds(), retryAfter))
        return false;
    RefuseAndClose(res, 429, std::string("too many ") + what + " from your address; retry in " +
                                 std::to_string(retryAfter) + " s");
    res.set_header("Retry-After", std::to_string(retryAfter));
    HoldAnswer();
    return true;
}

// Applies the head rules, the rates and the disk floor; true when the
// request has been answered.
bool AnswerFromHead(const httplib::Request& req, httplib::Response& res, ReportService& service)
{
    StartRequestStats();
    MarkRequestHeadRead();

    const RequestVerdict verdict = CheckRequestHead(DescribeHead(req), service.maxBody, service.maxCrashBody);
    if (verdict.status != 0) {
        RefuseAndClose(res, verdict.status, verdict.reason);
        if (!verdict.allow.empty())
            res.set_header("Allow", verdict.allow);
        return true;
    }
    if (req.path != kReportPath && req.path != kCrashPath)
        return RefuseForRate(service.queryRate.get(), req, res, "queries");

    std::string reason;
    const uint64_t announced = req.get_header_value<uint64_t>("Content-Length");
    if (service.diskFloor && !service.diskFloor->HasRoom(EstimateStoredSize(announced), reason)) {
        RefuseAndClose(res, 507, reason);
        return true;
    }
    return RefuseForRate(service.uploadRate.get(), req, res, "reports");
}

void ServeDataFile(const ReportService& service, const char* fileName, httplib::Response& res)
{
    std::string bytes;
    std::string error;
    switch (ReadWholeFile(service.dataDir + "/" + fileName, bytes, error)) {
    case ReadResult::Read:
        res.status = 200;
        res.set_content(bytes, kTextType);
        return;
    case ReadResult::Missing:
        Refuse(res, 404, std::string(fileName) + " is not in the data folder");
        return;
    case ReadResult::Failed:
        break;
    }
    Refuse(res, 500, error);
}

// A body of known length, read by the guard straight into body: httplib's
// reader would take it 4 KiB at a time through two copies.
bool ReadWholeBody(size_t length, std::string& body)
{
    // Grown a piece at a time: resizing zeroes, and a piece zeroed just
    // before the socket's bytes land on it is still in the cache.
    const size_t kPiece = 256 * 1024;
    size_t got = 0;
    while (got < length) {
        body.resize(std::max(body.size(), std::min(length, got + kPiece)));
        const ssize_t n = ReadRequestBody(&body[got], body.size() - got);
        if (n <= 0) {
            body.resize(got);
            return false;
        }
        got += static_cast<size_t>(n);
    }
    body.resize(got);
    return true;
}

// Reads the whole body, up to limit bytes; false when the request has been
// answered.
bool ReadBody(const ReportService& service, const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader& reader, uint64_t limit, std::string& body)
{
    const uint64_t announced = req.get_header_value<uint64_t>("Content-Length");
    if (announced <= limit)
        body.reserve(static_cast<size_t>(announced));

    bool tooLarge = false;
    // Chunked and compressed bodies have no length up front, and servers
    // without the guard (the tests') read only through httplib: those are
    // counted as they come.
    const bool whole = announced <= limit && IsGuardedConnection() && req.has_header("Content-Length") &&
                       !req.has_header("Transfer-Encoding") && !req.has_header("Content-Encoding");
    const bool complete = whole ? ReadWholeBody(static_cast<size_t>(announced), body)
                                : reader([&](const char* data, size_t length) {
                                      if (length > limit - body.size()) {
                                          tooLarge = true;
                                          return false;
                                      }
                                      body.append(data, length);
                                      return true;
                                  });
    g_requestStats.received = body.size();
    if (tooLarge) {
        RefuseAndClose(res, 413, "body is over the limit of " + std::to_string(limit) + " bytes");
        return false;
    }
    if (!complete) {
        RefuseAndClose(res, 400, "the request body could not be read completely");
        return false;
    }
    if (service.failUploads) {
        // After the whole body, so the client sees the answer and not a reset.
        Refuse(res, 500, "uploads fail on purpose (--fail-uploads)");
        return false;
    }
    return true;
}

// The longest upload key taken; the reporter's are 32 characters.
const size_t kLongestUploadKey = 128;

// A key of letters, digits, '-' and '_', as clients make them.
bool IsUploadKey(const std::string& key)
{
    if (key.empty() || key.size() > kLongestUploadKey)
        return false;
    for (const char c : key) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            return false;
    }
    return true;
}

// False, with the answer made, when the upload key is malformed.
bool DescribeOrigin(const httplib::Request& req, httplib::Response& res, ReportOrigin& origin)
{
    origin.receivedUtc = FormatUtcNow();
    origin.peer = FormatHostPort(req.remote_addr, req.remote_port);
    origin.userAgent = req.get_header_value("User-Agent");
    origin.uploadKey = req.get_header_value("Idempotency-Key");
    if (req.has_header("Idempotency-Key") && !IsUploadKey(origin.uploadKey)) {
        Refuse(res, 400, "Idempotency-Key: 1 to 128 letters, digits, '-' or '_' expected");
        return false;
    }
    return true;
}

// The insert has committed: only now may the client forget the report.
void AnswerStored(httplib::Response& res, int64_t id)
{
    res.status = 201;
    res.set_content(std::to_string(id) + "\n", kTextType);
}

// Gives back the room an upload reserved under the floor, on every path.
class FloorReservation
{
public:
    FloorReservation(ReportService& service, uint64_t bytes) : m_service(service), m_bytes(bytes) {}
    ~FloorReservation()
    {
        std::lock_guard<std::mutex> lock(m_service.floorMutex);
        m_service.floorReserved -= m_bytes;
    }
    FloorReservation(const FloorReservation&) = delete;
    FloorReservation& operator=(const FloorReservation&) = delete;

private:
    ReportService& m_service;
    uint64_t m_bytes;
};

// Runs insert, under the free-space floor when the store writes to the data
// folder; answers a failure and returns false.
bool StoreUnderFloor(ReportService& service, httplib::Response& res, size_t bodySize,
                     const std::function<InsertResult()>& insert, InsertResult& stored, std::string& error)
{
    stored = InsertResult::Failed;
    if (service.diskFloor && service.store->WritesToDataFolder()) {
        const uint64_t needed = EstimateStoredSize(bodySize);
        {
            std::lock_guard<std::mutex> lock(service.floorMutex);
            // Checked again with the real size and the room of the uploads
            // still on their way to the disk: those read in parallel, and
            // then committed together, must not pass the floor together.
            if (!service.diskFloor->HasRoom(service.floorReserved + needed, error)) {
                Refuse(res, 507, error);
                return false;
            }
            service.floorReserved += needed;
        }
        FloorReservation reservation(service, needed);
        stored = insert();
    } else {
        stored = insert();
    }
    if (stored == InsertResult::Stored || stored == InsertResult::Repeated)
        return true;
    // A full disk rolls the insert back whole: nothing half-written.
    const bool full = stored == InsertResult::Full;
    Refuse(res, full ? 507 : 500, full ? "not enough free space on the server to store the report" : error);
    return false;
}

// One upload of either kind: the body read within limit, parsed, stored
// under the free-space floor, announced and answered with its id.
template <typename Kind>
void ReceiveUpload(ReportService& service, const httplib::Request& req, httplib::Response& res,
                   const httplib::ContentReader& reader, uint64_t limit,
                   bool (*parse)(const char*, size_t, Kind&, std::string&),
                   InsertResult (ReportStore::*insertInto)(const ReportOrigin&, const Kind&, const std::string&,
                                                           int64_t&, std::string&),
                   const std::function<void(int64_t, const ReportOrigin&, const Kind&)>& announce)
{
    std::string body;
    if (!ReadBody(service, req, res, reader, limit, body))
        return;

    Kind report;
    std::string reason;
    if (!parse(body.data(), body.size(), report, reason)) {
        Refuse(res, 400, reason);
        return;
    }

    ReportOrigin origin;
    if (!DescribeOrigin(req, res, origin))
        return;
    int64_t id = 0;
    std::string error;
    InsertResult stored = InsertResult::Failed;
    const auto insert = [&]() { return ((*service.store).*insertInto)(origin, report, body, id, error); };
    if (!StoreUnderFloor(service, res, body.size(), insert, stored, error))
        return;
    // A repeated upload is the report stored before: 201 with its id, and
    // nothing indexed or announced again.
    if (announce && stored == InsertResult::Stored)
        announce(id, origin, report);
    AnswerStored(res, id);
}

void ReceiveReport(ReportService& service, const httplib::Request& req, httplib::Response& res,
                   const httplib::ContentReader& reader)
{
    ReceiveUpload<Report>(service, req, res, reader, service.maxBody, ParseReportBody, &ReportStore::InsertReport,
                          service.onStored);
}

void ReceiveCrashReport(ReportService& service, const httplib::Request& req, httplib::Response& res,
                        const httplib::ContentReader& reader)
{
    ReceiveUpload<CrashReport>(service, req, res, reader, service.maxCrashBody, ParseCrashBody,
                               &ReportStore::InsertCrashReport, service.onCrashStored);
}

const char* DescribeStatus(int status)
{
    switch (status) {
    case 400: return "bad request";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 408: return "request timeout";
    case 411: return "length required";
    case 413: return "payload too large";
    case 414: return "URI too long";
    case 415: return "unsupported media type";
    case 416: return "range not satisfiable";
    case 429: return "too many requests";
    case 501: return "not implemented";
    default: break;
    }
    return status >= 500 ? "internal server error" : "error";
}

void WriteLogLine(ReportService& service, const httplib::Request& req, const httplib::Response& res)
{
    FILE* log = service.log;
    double milliseconds = 0;
    if (g_requestStats.started) {
        milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - g_requestStats.start)
                           .count();
    }
    const size_t received = g_requestStats.started ? g_requestStats.received : req.body.size();
    g_requestStats = RequestStats();
    // The connection guard has logged why it cut the client off.
    if (log == nullptr || IsConnectionCutOff())
        return;

    const auto makeLine = [&]() {
        std::string line = FormatUtcNow() + " " + FormatHostPort(req.remote_addr, req.remote_port) + " " +
                           EscapeControlBytes(req.method, false) + " " + EscapeControlBytes(req.path, false) + " " +
                           std::to_string(res.status) + " in=" + std::to_string(received) +
                           " out=" + std::to_string(res.body.size());
        char duration[32];
        std::snprintf(duration, sizeof duration, " %.1fms", milliseconds);
        line += duration;
        if (res.status >= 400 && !res.body.empty())
            line += " \"" + EscapeControlBytes(GetFirstLine(res.body), false) + "\"";
        return line;
    };
    if (res.status >= 400 && service.refusals) {
        service.refusals->Write(makeLine);
        return;
    }
    std::string line = makeLine();
    line += "\n";
    // One write per line, so lines of concurrent requests do not mix.
    std::fwrite(line.data(), 1, line.size(), log);
    std::fflush(log);
}

}  // namespace

void InstallReportRoutes(httplib::Server& server, ReportService& service)
{
    // httplib's default adds SO_REUSEPORT, with which a second server would
    // quietly share the port instead of failing.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_payload_max_length(static_cast<size_t>(std::max(service.maxBody, service.maxCrashBody)));

    // Refusals that need no body come before it is read: a client that
    // waits for "100 Continue" gets them without sending it at all.
    server.set_expect_100_continue_handler([&service](const httplib::Request& req, httplib::Response& res) {
        return AnswerFromHead(req, res, service) ? res.status : 100;
    });
    server.set_pre_routing_handler([&service](const httplib::Request& req, httplib::Response& res) {
        // httplib asked the handler above first (on exactly this value): a
        // second check would count the request twice against its rate.
        if (req.get_header_value("Expect") == "100-continue") {
            StartRequestStats();
            return httplib::Server::HandlerResponse::Unhandled;
        }
        return AnswerFromHead(req, res, service) ? httplib::Server::HandlerResponse::Handled
                                                 : httplib::Server::HandlerResponse::Unhandled;
    });

    server.Get(kComponentsPath, [&service](const httplib::Request&, httplib::Response& res) {
        ServeDataFile(service, "components.txt", res);
    });
    server.Get(kLatestVersionPath, [&service](const httplib::Request&, httplib::Response& res) {
        ServeDataFile(service, "latest_version.txt", res);
    });
    // A content reader, not a plain handler: httplib would parse a plain
    // handler's form-urlencoded body (the reporter's Content-Type) as a form
    // and refuse it over 8 KiB.
    server.Post(kReportPath,
                [&service](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                    ReceiveReport(service, req, res, reader);
                });
    server.Post(kCrashPath,
                [&service](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                    ReceiveCrashReport(service, req, res, reader);
                });

    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            Refuse(res, res.status, DescribeStatus(res.status));
    });
    server.set_post_routing_handler(
        [](const httplib::Request&, httplib::Response& res) { res.set_header("X-Content-Type-Options", "nosniff"); });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        std::string what = "unknown exception";
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        Refuse(res, 500, "internal error: " + what);
    });
    server.set_logger([&service](const httplib::Request& req, const httplib::Response& res) {
        WriteLogLine(service, req, res);
    });
}

void ApplyServeLimits(ReportService& service, const ServeLimits& limits)
{
    service.refusals.reset(new RefusalLog(service.log));
    service.uploadRate.reset(limits.uploadRate.empty() ? nullptr : new AddressRateLimiter(limits.uploadRate));
    service.queryRate.reset(limits.queryRate.empty() ? nullptr : new AddressRateLimiter(limits.queryRate));
    service.diskFloor.reset(limits.diskFloorOff ? nullptr
                                                : new DiskFloor(service.dataDir, limits, service.refusals.get()));
}
