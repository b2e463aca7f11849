// Assembly of the upload body: nine records, each its key literal (ending in
// a space), its payload and "\n\n", in a fixed order. Portable, so the
// server's parser is tested against exactly what the reporter sends.
#pragma once

#include <cstddef>
#include <string>

// The records of a report, in the order they are sent.
enum ReportRecord
{
    RECORD_EMAIL,
    RECORD_DESCRIPTION1,         // steps to reproduce
    RECORD_DESCRIPTION2,         // what happened
    RECORD_DESCRIPTION3,         // what should have happened
    RECORD_DESCRIPTION4,         // system information
    RECORD_ATTACHMENT_NAME,
    RECORD_ATTACHMENT,           // the diagnostic report, a file payload
    RECORD_ATTACHMENT_LOG_NAME,
    RECORD_ATTACHMENT_LOG,       // the application log, a file payload
    REPORT_RECORD_COUNT
};

// Characters per line of a wrapped file payload.
const size_t kBase64LineLength = 100;

// The most a body may take, counted with a terminator: 20 MiB less one byte
// travel at most.
const size_t kReportBodySize = 20971520;

// The payload sent for an empty or missing file: "WFhY" (the base64 of
// "XXX") and a line feed. A wrapped payload never ends in a line feed, so the
// server can tell the two apart.
extern const char kEmptyFilePayload[];

// The key literal of a record, with its trailing space ("email ", ...).
const char* GetRecordKey(ReportRecord record);

// Records 7 and 9 carry files: wrapped lines or the placeholder.
bool IsFileRecord(ReportRecord record);

// Length of a base64 text of length characters once wrapped.
size_t GetWrappedLength(size_t length);

// Copies a base64 text, inserting a line feed before its 101st, 201st, ...
// character: lines of exactly 100 characters, the last one 1 to 100, no
// line feed after it.
std::string WrapBase64Lines(const char* text, size_t length);

// The payload of a file whose size bytes were read whole: the placeholder
// when size is 0, else the base64 of the bytes before the first NUL byte,
// wrapped. A file that could not be read has no payload at all, which the
// caller sends as an empty text.
std::string MakeFilePayload(const char* bytes, size_t size);

// The count of bytes before the first NUL in bytes, or size when there is
// none. Eight bytes at a time: the C library's memchr of some platforms (the
// MinGW-built program's msvcrt under Wine) looks at one, and the reporter
// scans a log of up to 20 MiB before it sends a byte.
size_t CountBytesBeforeNul(const char* bytes, size_t size);

// Bytes that a record with a payload of payloadLength characters occupies.
size_t GetRecordLength(ReportRecord record, size_t payloadLength);

// Appends one record to body, which may grow to bodySize - 1 bytes (the
// size counts a terminator, as the body buffer of earlier versions did, so
// the limit on the wire stays where it was). Returns false, leaving body as
// it was, when the record does not fit.
bool AppendRecord(std::string& body, size_t bodySize, ReportRecord record, const std::string& payload);

// The newest part of a wrapped file payload that fits in room characters:
// a pointer to the first kept line (to the terminator when not even the last
// line fits). Dropping whole lines from the front keeps valid base64 whose
// bytes are the end of the file.
const char* CutToNewestLines(const char* payload, size_t room);

// Appends all nine records, payloads[i] being the payload of record i. When
// they do not all fit in bodySize (as for AppendRecord), the application log
// is cut to its newest lines, and if that is not enough it goes empty and the
// diagnostic report is cut too. Returns false, leaving body as it was, when
// even that fails.
bool AppendReportRecords(std::string& body, size_t bodySize, const std::string payloads[REPORT_RECORD_COUNT]);

// All functions that return or fill a text throw std::bad_alloc when memory
// runs out.
