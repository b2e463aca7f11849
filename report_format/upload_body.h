// The whole upload body from what the form and the files gave: the texts
// are encoded here, the two file payloads come ready (ReadFilePayload).
// Portable, so every record rule is tested natively.
#pragma once

#include <cstddef>
#include <string>

#include "report_format/record_format.h"

// The texts of a report, 8-bit in the ANSI code page; each travels up to its
// first NUL byte, as the C string it was read as.
struct ReportTexts
{
    std::string email;
    std::string steps;         // description1
    std::string happened;      // description2
    std::string shouldHappen;  // description3
    std::string systemInfo;    // description4: the joined section
};

// Attachment names as the server files them.
extern const char kDxDiagAttachmentName[];  // "user_info.txt"
extern const char kLogAttachmentName[];     // "brevora_log.txt"

// The nine records as one body of at most bodySize - 1 bytes (see
// AppendRecord). When they do not fit, the log and then the diagnostic report
// are cut to their newest lines. Returns false, with body empty, when even
// the texts alone do not fit; throws std::bad_alloc when memory runs out.
// The payloads are taken over (move them in: no copy of a large file).
bool AssembleReportBody(const ReportTexts& texts, std::string dxdiagPayload, std::string logPayload,
                        std::string& body, size_t bodySize = kReportBodySize);
