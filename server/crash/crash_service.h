// Crash reports processed into what the maintainers read: each stored
// report's dump read, its crashing stack walked with the release binaries
// the maintainers gave, and the analysis saved with its group. A thread of
// its own does it, off the upload's way to its 201.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "server/base/batch_queue.h"
#include "server/store/crash_store.h"
#include "server/store/report_store.h"

// A report to process: its dump, version and time when it has just been
// stored (no need to read it back and unpack it), or only its id.
struct CrashWork
{
    int64_t id = 0;
    std::shared_ptr<const StoredCrashReport> stored;  // null: read from the store
};

struct CrashService
{
    ReportStore* reports = nullptr;  // the dumps are read through it
    std::unique_ptr<CrashStore> store;
    FILE* log = nullptr;  // a line per report that could not be processed; nullptr: none
    // Bytes of dumps copied for reports still waiting: bounded, so that a
    // backlog under a flood of uploads costs no memory beyond it.
    std::atomic<uint64_t> copiedBytes{0};
    // Reports waiting to be processed; last, so that it is emptied while
    // the stores are still open.
    std::unique_ptr<BatchQueue<CrashWork>> queue;
};

// Opens the crash store beside the reports (reports must outlive the
// service) and starts the thread, which first processes every crash report
// that has no analysis yet.
bool OpenCrashService(CrashService& service, const std::string& dataDir, const std::string& databaseUrl,
                      ReportStore& reports, std::string& error);

// Hands a report just stored to the thread, with what processing needs of
// it; a dump too large to copy on the upload's way is read back instead.
void QueueCrashReport(CrashService& service, int64_t id, const ReportOrigin& origin, const CrashReport& report);
// Hands a stored report to the thread, to be read back.
void QueueCrashReport(CrashService& service, int64_t id);

// Processes these reports now, on the caller's thread; a report removed
// meanwhile is passed over. False with error at the first that fails.
bool ProcessCrashReports(ReportStore& reports, CrashStore& crashes, const std::vector<int64_t>& ids,
                         std::string& error);

// Stores a release binary under its key; affected gets the reports whose
// dumps list that module, to be processed again.
bool AddReleaseBinary(CrashStore& crashes, const std::string& fileName, const std::string& content,
                      std::vector<int64_t>& affected, std::string& error);
