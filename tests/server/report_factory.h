// Reports as the reporter would send them: inputs, and bodies made with the
// reporter's own encoder and record assembly.
#pragma once

#include <cstddef>
#include <random>
#include <string>

#include "report_format/record_format.h"

// A file as the reporter finds it.
struct FileInput
{
    enum Kind
    {
        Present,     // read whole
        Missing,     // missing or empty: the placeholder
        Unreadable   // the read failed: an empty payload
    };
    Kind kind = Missing;
    std::string bytes;
};

struct ReportInput
{
    std::string email;
    std::string description1;
    std::string description2;
    std::string description3;
    std::string systemInfo;
    std::string attachmentName = "user_info.txt";
    FileInput dxdiag;
    std::string logName = "brevora_log.txt";
    FileInput log;
};

FileInput MakePresentFile(std::string bytes);

// The body the reporter sends for input, in a body buffer of bodySize bytes
// (the log is cut to fit as the reporter cuts it).
std::string EncodeReport(const ReportInput& input, size_t bodySize = kReportBodySize);

// What the server should decode from a file the reporter sent whole: the
// bytes before the first NUL.
std::string CutAtFirstNul(const std::string& bytes);

// Random bytes; with noNul, 1 to 255 only (texts read as C strings).
std::string MakeRandomBytes(std::mt19937& rng, size_t size, bool noNul);

// Log-like text lines of about size bytes.
std::string MakeLogText(std::mt19937& rng, size_t size);

// A report with random texts and files of 0 to maxFileSize bytes, any kind.
ReportInput MakeRandomReport(std::mt19937& rng, size_t maxFileSize);

// A plausible report: short texts, a diagnostic report of ~40 KiB and a log
// of logSize bytes.
ReportInput MakeRealisticReport(std::mt19937& rng, size_t logSize);

// The crash body the reporter sends for a comment and the dump, log and
// configuration as they are found (all present), with its largest limit.
std::string EncodeCrashReport(const std::string& comment, const std::string& dump, const std::string& log,
                              const std::string& conf);
