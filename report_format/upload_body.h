// The whole upload body from what the form and the files gave: the texts
// are encoded here, the two file payloads come ready (ReadFilePayload).
// Portable, so every record rule is tested natively.
#pragma once

#include <cstddef>

// The texts of a report, 8-bit in the ANSI code page, NUL-terminated.
struct ReportTexts
{
    const char* email;
    const char* steps;         // description1
    const char* happened;      // description2
    const char* shouldHappen;  // description3
    const char* systemInfo;    // description4: the joined section
};

// Attachment names as the server files them.
extern const char kDxDiagAttachmentName[];  // "user_info.txt"
extern const char kLogAttachmentName[];     // "brevora_log.txt"

// Appends the nine records to body (bodySize bytes, terminator included,
// starting empty). When they do not fit, the log and then the diagnostic
// report are cut to their newest lines. Returns false, with body empty,
// when an allocation fails or even the texts alone do not fit.
bool AssembleReportBody(const ReportTexts& texts, const char* dxdiagPayload, const char* logPayload, char* body,
                        size_t bodySize);
