// The thread that empties the alert outbox: it claims due deliveries,
// sends each by webhook or mail, and records the outcome, retrying a
// failure with growing delays for up to a day. Several servers on one
// database each send what they claimed, so every delivery goes out once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/alerts/alert_transport.h"
#include "server/store/alert_store.h"

struct AlertSettings
{
    std::string publicUrl;  // the maintainers' interface as the recipients reach it
    SmtpSettings smtp;      // url empty: no mail goes out (mail rules fail)
    int timeoutSeconds = 15;
};

struct AlertService
{
    ~AlertService();  // stops the thread

    std::unique_ptr<AlertStore> store;
    AlertSettings settings;
    FILE* log = nullptr;  // a line per failed attempt; nullptr: none
    std::string owner;    // this server's name on its claims
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

// Sends one delivery; false with error when it did not go out.
bool DeliverAlert(const AlertDelivery& delivery, const AlertSettings& settings, std::string& error);

// Opens the alert store beside the reports and starts the thread.
bool StartAlertService(AlertService& service, const std::string& dataDir, const std::string& databaseUrl,
                       std::string& error);
// Queues the alert of a stored bug report (once per report) and wakes the
// thread; a failure is logged.
void QueueBugReportAlert(AlertService& service, int64_t reportId, const std::string& component,
                         const std::string& receivedUtc);
// Ends the thread after its current delivery; what it had claimed and not
// sent is free again for any server when the claim runs out.
void StopAlertService(AlertService& service);
