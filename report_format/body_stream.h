// The upload body without holding it: its length is known before the first
// byte goes out, and its bytes are made piece by piece while they are sent,
// the file payloads encoded from the newest part of each file as it is read.
// Byte for byte the body that AssembleReportBody makes of the same files,
// except that a NUL byte only ends what is read after the part's start: a
// log whose zero-filled start is cut off anyway is still sent.
// Portable: the platform supplies the reads and the writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "report_format/record_format.h"
#include "report_format/upload_body.h"

// The size of a file that cannot be opened or measured.
const uint64_t kMissingFileSize = UINT64_MAX;

// A file as the body reads it: its size, taken once, and reads at an offset.
struct FileSource
{
    void* handle;
    uint64_t size;  // kMissingFileSize for a missing or unmeasurable file
    // Reads up to size bytes from offset into buffer and stores the count in
    // *got. Returns false when the read fails.
    bool (*readAt)(void* handle, uint64_t offset, char* buffer, uint32_t size, uint32_t* got);
};

enum FilePartKind
{
    FILE_PART_PLACEHOLDER,  // missing or empty file: "WFhY\n"
    FILE_PART_NOTHING,      // failed read, or no line fitted: an empty payload
    FILE_PART_BYTES         // the wrapped base64 of length bytes from offset
};

struct FilePart
{
    FilePartKind kind;
    uint64_t offset;
    uint64_t length;
};

// What the body holds: the encoded payloads of the seven text records (the
// two file records' entries stay empty) and the part of each file sent.
struct ReportBodyPlan
{
    std::string encoded[REPORT_RECORD_COUNT];
    FilePart dxdiag;
    FilePart log;
};

// Encodes the texts and chooses each file's part from its size, with the cut
// of AppendReportRecords (the log to its newest lines, then the diagnostic
// report), then reads that part once to end it at its first NUL byte. Only
// the parts are read, never more. Returns false when even the texts alone do
// not fit bodySize (see AppendRecord); throws std::bad_alloc when memory runs
// out.
bool PlanReportBody(const ReportTexts& texts, const FileSource& dxdiag, const FileSource& log, ReportBodyPlan& plan,
                    size_t bodySize = kReportBodySize);

// The body's length in bytes.
uint64_t GetReportBodyLength(const ReportBodyPlan& plan);

// Receives the body in pieces of at most kBodyPieceSize bytes, in order.
// Returning false ends the body there (a cancelled or failed send).
typedef bool (*WriteBodyFn)(void* sink, const char* bytes, size_t length);

// Large pieces: under Wine each InternetWriteFile costs far more than the
// copy of its bytes; yet small enough that on a line of 1 MiB/s the cancel
// flag is seen within a quarter of a second.
const size_t kBodyPieceSize = 256 * 1024;

// Makes the body of plan and hands it to write. Returns false when write
// refused a piece or a file read failed or came short (the file shrank
// since the plan: the length announced can no longer be kept).
bool WriteReportBody(const ReportBodyPlan& plan, const FileSource& dxdiag, const FileSource& log, WriteBodyFn write,
                     void* sink);
