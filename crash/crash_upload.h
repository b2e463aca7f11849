// The crash report's second way: posted to the report server when the mail
// cannot go out, and kept for a later start when the server cannot take it
// now.
#pragma once

#include <cstdint>
#include <string>

#include "report_format/crash_body.h"

enum CrashUploadResult
{
    CRASH_UPLOAD_ACCEPTED,  // a 2xx answer
    CRASH_UPLOAD_REFUSED,   // 400 or 413: this body will never be taken
    CRASH_UPLOAD_FAILED     // off line, no server, any other answer: may pass
};

// Posts a body of length bytes, made by make, with the report's upload key
// (none when empty). A body that fails mid-way drops its request.
CrashUploadResult PostCrashBody(uint64_t length, const std::wstring& key, MakeCrashBodyFn make, void* context);

struct CrashUploadOutcome
{
    bool delivered;  // the server took it
    bool kept;       // not delivered, but kept for the next start
};

// Posts the comment and the installed version (both UTF-8) and the three
// files (8-bit paths; a path that names no readable file sends the
// placeholder) with the report's upload key. When it fails for a reason that
// may pass, the body as it would have been sent is kept under that key.
CrashUploadOutcome PostCrashReport(const std::string& comment, const std::string& version,
                                   const std::string& dumpPath, const std::string& logPath,
                                   const std::string& confPath, const std::wstring& key);
