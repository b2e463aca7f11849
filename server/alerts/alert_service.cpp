#include "server/alerts/alert_service.h"

#include <curl/curl.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "server/alerts/alert_message.h"
#include "server/base/log_text.h"
#include "server/store/store_factory.h"

namespace {

const int64_t kGiveUpSeconds = 24 * 3600;
// Longer than a delivery can take, so that no other server takes a row
// while it is being sent.
const int kClaimSeconds = 300;
// How often the outbox is looked at without a wake-up (events queued by
// another server, retries coming due).
const int kPollMilliseconds = 1000;

std::string FormatMailDate(time_t seconds)
{
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[64];
    strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
    return text;
}

// "host-pid-random": unique among the servers sharing a database.
std::string MakeOwnerName()
{
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    return std::string(host) + "-" + std::to_string(getpid()) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
}

void WriteLogLine(AlertService& service, const std::string& line)
{
    if (service.log == nullptr)
        return;
    std::fprintf(service.log, "%s %s\n", FormatUtcNow().c_str(), EscapeControlBytes(line, false).c_str());
    std::fflush(service.log);
}

void LogFailure(AlertService& service, const AlertDelivery& delivery, const std::string& what)
{
    WriteLogLine(service, "alert " + std::to_string(delivery.id) + " (" + delivery.event + " of report " +
                              std::to_string(delivery.reportId) + ", rule " + std::to_string(delivery.rule.id) +
                              "): " + what);
}

// The wait before attempt number attempts + 1: 5 s, doubled each time, at
// most an hour.
int64_t ComputeRetryDelay(int attempts)
{
    int64_t delay = 5;
    for (int i = 0; i < attempts && delay < 3600; ++i)
        delay *= 2;
    return delay < 3600 ? delay : 3600;
}

// Sends what is due; false when nothing was.
bool SendDueAlerts(AlertService& service)
{
    std::vector<AlertDelivery> deliveries;
    std::string error;
    const int64_t now = static_cast<int64_t>(time(nullptr));
    if (!service.store->ClaimDeliveries(service.owner, now, kClaimSeconds, 20, deliveries, error)) {
        WriteLogLine(service, "alerts: cannot read the outbox: " + error);
        return false;
    }
    for (const AlertDelivery& delivery : deliveries) {
        {
            // What is left of the batch waits for its claim to run out.
            std::lock_guard<std::mutex> lock(service.mutex);
            if (service.stopping)
                break;
        }
        std::string why;
        DeliveryOutcome outcome = DeliveryOutcome::Sent;
        const int64_t sentAt = static_cast<int64_t>(time(nullptr));
        int64_t next = sentAt;
        if (!DeliverAlert(delivery, service.settings, why)) {
            next = sentAt + ComputeRetryDelay(delivery.attempts);
            outcome = next - delivery.createdAt > kGiveUpSeconds ? DeliveryOutcome::Failed : DeliveryOutcome::Retry;
            LogFailure(service, delivery, why + (outcome == DeliveryOutcome::Failed ? "; given up" : "; will retry"));
        }
        if (!service.store->FinishDelivery(delivery.id, service.owner, outcome, next, why,
                                           outcome == DeliveryOutcome::Retry ? "" : FormatUtcNow(), error))
            LogFailure(service, delivery, "cannot record the outcome: " + error);
    }
    return !deliveries.empty();
}

void RunAlertThread(AlertService& service)
{
    std::unique_lock<std::mutex> lock(service.mutex);
    while (!service.stopping) {
        lock.unlock();
        const bool sent = SendDueAlerts(service);
        lock.lock();
        if (!sent && !service.stopping)
            service.wake.wait_for(lock, std::chrono::milliseconds(kPollMilliseconds));
    }
}

}  // namespace

bool DeliverAlert(const AlertDelivery& delivery, const AlertSettings& settings, std::string& error)
{
    if (!delivery.rule.webhookUrl.empty())
        return PostWebhook(delivery.rule.webhookUrl, delivery.rule.secret,
                           WriteAlertJson(delivery, settings.publicUrl), settings.timeoutSeconds, error);
    if (settings.smtp.url.empty()) {
        error = "no mail server (serve --smtp)";
        return false;
    }
    const std::string mail = WriteAlertMail(delivery, settings.publicUrl, settings.smtp.from, delivery.rule.email,
                                            FormatMailDate(time(nullptr)));
    return SendMail(settings.smtp, delivery.rule.email, mail, settings.timeoutSeconds, error);
}

bool StartAlertService(AlertService& service, const std::string& dataDir, const std::string& databaseUrl,
                       std::string& error)
{
    service.store = OpenAlertStore(dataDir, databaseUrl, error);
    if (!service.store)
        return false;
    // Before any thread: libcurl's global set-up is not thread-safe.
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        error = "cannot start libcurl";
        return false;
    }
    service.owner = MakeOwnerName();
    service.thread = std::thread([&service]() { RunAlertThread(service); });
    return true;
}

void QueueBugReportAlert(AlertService& service, int64_t reportId, const std::string& component,
                         const std::string& receivedUtc)
{
    std::string error;
    if (!service.store->QueueBugReportAlert(reportId, component, receivedUtc, error)) {
        WriteLogLine(service, "alerts: cannot queue bug report " + std::to_string(reportId) + ": " + error);
        return;
    }
    std::lock_guard<std::mutex> lock(service.mutex);
    service.wake.notify_one();
}

AlertService::~AlertService()
{
    StopAlertService(*this);
}

void StopAlertService(AlertService& service)
{
    {
        std::lock_guard<std::mutex> lock(service.mutex);
        service.stopping = true;
        service.wake.notify_one();
    }
    if (service.thread.joinable())
        service.thread.join();
}
