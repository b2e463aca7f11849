// The crash report's body, for the upload that stands in when the crash mail
// cannot go out: seven records framed like a bug report's (key, space,
// base64 payload, "\n\n"): the comment, then name and payload of the dump,
// the log and the configuration; then the installed Brevora version as an
// eighth, which older reporters did not send. The files travel whole, NUL bytes
// included, wrapped in lines of 100 characters. The body is planned from the
// files' sizes first, then written out in blocks, so that a dump of any size
// is never held in memory. Portable: the platform supplies the reads and the
// writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum CrashRecord
{
    CRASH_RECORD_COMMENT,
    CRASH_RECORD_DUMP_NAME,
    CRASH_RECORD_DUMP,
    CRASH_RECORD_LOG_NAME,
    CRASH_RECORD_LOG,
    CRASH_RECORD_CONF_NAME,
    CRASH_RECORD_CONF,
    CRASH_RECORD_VERSION,  // absent from older reporters' bodies
    CRASH_RECORD_COUNT
};

// The three files, in the order their records are sent.
enum CrashFile
{
    CRASH_FILE_DUMP,
    CRASH_FILE_LOG,
    CRASH_FILE_CONF,
    CRASH_FILE_COUNT
};

// No crash body is longer; the reference server takes it as its default
// limit for crash bodies.
const uint64_t kCrashBodyLimit = 64ull * 1024 * 1024;

// "comment ", "attachment_dump_name ", ...: the key with its trailing space.
const char* GetCrashRecordKey(CrashRecord record);

// The payload record of a file and the record of its name.
CrashRecord GetCrashFileRecord(CrashFile file);
CrashRecord GetCrashNameRecord(CrashFile file);

// "brevora.dmp", "brevora.log", "brevora.conf".
const char* GetCrashFileName(CrashFile file);

// Reads up to size bytes from offset of the file behind handle and stores
// the count in *got (less only at the file's end). False when the read fails.
typedef bool (*ReadCrashFileFn)(void* handle, uint64_t offset, char* buffer, uint32_t size, uint32_t* got);

// Takes the next bytes of the body. False stops the writing.
typedef bool (*WriteBodyFn)(void* sink, const char* bytes, size_t length);

// Makes a whole crash body (from a plan, or from a kept copy) and hands it
// to write piece by piece. False when a piece could not be made or write
// refused it.
typedef bool (*MakeCrashBodyFn)(void* context, WriteBodyFn write, void* sink);

// One file as the platform found it; a null handle is a missing file.
struct CrashFileSource
{
    void* handle;
    uint64_t size;
};

// The part of a file that travels: length bytes from offset; none (length 0)
// sends the placeholder, as for a missing or empty file.
struct CrashFilePart
{
    uint64_t offset;
    uint64_t length;
};

struct CrashBodyPlan
{
    std::string comment;  // base64 of the comment's bytes
    bool withVersion;     // the version record is sent
    std::string version;  // base64 of the version's bytes
    CrashFilePart parts[CRASH_FILE_COUNT];
    uint64_t length;      // bytes of the whole body
};

// Length of the payload that carries length bytes of a file.
uint64_t GetCrashFilePayloadLength(uint64_t length);

// Decides what travels so that the body stays within limit: every file whole
// if it fits; else the dump whole when it fits beside the least of the log
// and the configuration, or else not at all; then the log cut to its newest
// whole lines, and when even none of it fits, the configuration cut the same
// way. Reads only to find where lines start. False when a read fails or the
// comment alone does not fit.
bool PlanCrashBody(const std::string& comment, const std::string& version,
                   const CrashFileSource files[CRASH_FILE_COUNT], ReadCrashFileFn read, uint64_t limit,
                   CrashBodyPlan& plan);

// The same body without the version record, as older reporters sent it.
bool PlanCrashBody(const std::string& comment, const CrashFileSource files[CRASH_FILE_COUNT], ReadCrashFileFn read,
                   uint64_t limit, CrashBodyPlan& plan);

// Writes the planned body, plan.length bytes, in blocks. False when a read
// fails or comes short (the file changed since the plan) or a write fails.
bool WriteCrashBody(const CrashBodyPlan& plan, const CrashFileSource files[CRASH_FILE_COUNT], ReadCrashFileFn read,
                    WriteBodyFn write, void* sink);
