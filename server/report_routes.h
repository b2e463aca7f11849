// The HTTP side of the server: the two queries, the upload and the request
// log, installed on an httplib server.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "server/disk_floor.h"
#include "server/rate_limiter.h"
#include "server/refusal_log.h"
#include "report_format/crash_body.h"
#include "server/report_store.h"

// What the routes share; outlives the httplib server it is installed on.
struct ReportService
{
    std::string dataDir;
    uint64_t maxBody = 0;
    uint64_t maxCrashBody = kCrashBodyLimit;
    bool failUploads = false;  // answer uploads with 500 and store nothing
    std::unique_ptr<ReportStore> store;
    // Held from the free-space check to the commit when the store writes to
    // the data folder, so that uploads cannot pass the floor together.
    std::mutex floorMutex;
    FILE* log = nullptr;   // one line per request; nullptr: none
    // Per-address rates, the free-space floor and the limited log of
    // refusals; null: none (as in most tests).
    std::unique_ptr<AddressRateLimiter> uploadRate;
    std::unique_ptr<AddressRateLimiter> queryRate;
    std::unique_ptr<DiskFloor> diskFloor;
    std::unique_ptr<RefusalLog> refusals;
};

// Sets the rates, the floor and the refusal log of service from limits
// (after its dataDir and log).
void ApplyServeLimits(ReportService& service, const ServeLimits& limits);

// Routes, limits, request log and socket options.
void InstallReportRoutes(httplib::Server& server, ReportService& service);

// "2024-05-01T12:34:56.789Z" for now.
std::string FormatUtcNow();
