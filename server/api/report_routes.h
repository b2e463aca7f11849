// The HTTP side of the server: the two queries, the upload and the request
// log, installed on an httplib server.
#pragma once

#include <httplib.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "report_format/crash_body.h"
#include "server/net/disk_floor.h"
#include "server/net/rate_limiter.h"
#include "server/net/refusal_log.h"
#include "server/store/report_store.h"

// What the routes share; outlives the httplib server it is installed on.
struct ReportService
{
    std::string dataDir;
    uint64_t maxBody = 0;
    uint64_t maxCrashBody = kCrashBodyLimit;
    bool failUploads = false;  // answer uploads with 500 and store nothing
    std::unique_ptr<ReportStore> store;
    // The room promised to uploads between their free-space check and
    // their commit, when the store writes to the data folder: uploads
    // committed together must not pass the floor together.
    std::mutex floorMutex;
    uint64_t floorReserved = 0;  // under floorMutex
    FILE* log = nullptr;   // one line per request; nullptr: none
    // Per-address rates, the free-space floor and the limited log of
    // refusals; null: none (as in most tests).
    std::unique_ptr<AddressRateLimiter> uploadRate;
    std::unique_ptr<AddressRateLimiter> queryRate;
    std::unique_ptr<DiskFloor> diskFloor;
    std::unique_ptr<RefusalLog> refusals;
    // Told of each report once it has committed, before its 201 (the
    // maintainers' index); empty: nobody.
    std::function<void(int64_t id, const ReportOrigin& origin, const Report& report)> onStored;
    std::function<void(int64_t id, const ReportOrigin& origin, const CrashReport& report)> onCrashStored;
};

// Sets the rates, the floor and the refusal log of service from limits
// (after its dataDir and log).
void ApplyServeLimits(ReportService& service, const ServeLimits& limits);

// Routes, limits, request log and socket options.
void InstallReportRoutes(httplib::Server& server, ReportService& service);

