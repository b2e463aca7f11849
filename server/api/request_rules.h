// What the server answers before it reads any body: the paths it serves,
// the methods each allows, and the size limit of an upload.
#pragma once

#include <cstdint>
#include <string>

extern const char kComponentsPath[];     // GET: components.txt
extern const char kLatestVersionPath[];  // GET: latest_version.txt
extern const char kReportPath[];         // POST: an upload
extern const char kCrashPath[];          // POST: a crash report

// The parts of a request head that decide.
struct RequestHead
{
    std::string method;
    std::string path;
    bool hasContentLength = false;
    std::string contentLength;
    std::string transferEncoding;
    std::string contentType;
};

// A refusal, or status 0 to go on.
struct RequestVerdict
{
    int status = 0;
    std::string reason;  // one line
    std::string allow;   // the Allow header of a 405
};

// 404 for an unknown path, 405 for a method the path does not take; for an
// upload, 400 for a malformed Content-Length, 411 when the length is
// neither given nor chunked, 413 when it is over maxBody (maxCrashBody for
// a crash report), 415 for multipart content.
RequestVerdict CheckRequestHead(const RequestHead& head, uint64_t maxBody, uint64_t maxCrashBody);
