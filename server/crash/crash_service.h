// Crash reports processed into what the maintainers read: each stored
// report's dump read, its crashing stack walked with the release binaries
// the maintainers gave, and the analysis saved with its group. A thread of
// its own does it, off the upload's way to its 201.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "server/base/batch_queue.h"
#include "server/store/crash_store.h"
#include "server/store/report_store.h"

struct CrashService
{
    ReportStore* reports = nullptr;  // the dumps are read through it
    std::unique_ptr<CrashStore> store;
    FILE* log = nullptr;  // a line per report that could not be processed; nullptr: none
    // Reports waiting to be processed; last, so that it is emptied while
    // the stores are still open.
    std::unique_ptr<BatchQueue<int64_t>> queue;
};

// Opens the crash store beside the reports (reports must outlive the
// service) and starts the thread, which first processes every crash report
// that has no analysis yet.
bool OpenCrashService(CrashService& service, const std::string& dataDir, const std::string& databaseUrl,
                      ReportStore& reports, std::string& error);

// Processes these reports now, on the caller's thread; a report removed
// meanwhile is passed over. False with error at the first that fails.
bool ProcessCrashReports(ReportStore& reports, CrashStore& crashes, const std::vector<int64_t>& ids,
                         std::string& error);

// A release executable or DLL: its key as dumps name it, from its headers.
bool ReadBinaryKey(const std::string& fileName, const std::string& content, BinaryKey& key, std::string& error);

// Stores a release binary under its key; affected gets the reports whose
// dumps list that module, to be processed again.
bool AddReleaseBinary(CrashStore& crashes, const std::string& fileName, const std::string& content,
                      std::vector<int64_t>& affected, std::string& error);
