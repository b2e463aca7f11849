#include "server/alerts/alert_transport.h"

#include <arpa/inet.h>

#include <cstring>

#include "server/alerts/alert_message.h"
#include "server/alerts/curl_handles.h"

namespace {

size_t DiscardAnswer(char*, size_t size, size_t count, void*)
{
    return size * count;
}

// The parts of url libcurl finds, or false.
bool SplitUrl(const std::string& url, std::string& scheme, std::string& host, std::string& user)
{
    CurlUrl handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        return false;
    const struct
    {
        CURLUPart part;
        std::string* into;
    } parts[] = {{CURLUPART_SCHEME, &scheme}, {CURLUPART_HOST, &host}, {CURLUPART_USER, &user}};
    for (const auto& part : parts) {
        char* value = nullptr;
        part.into->clear();
        if (curl_url_get(handle.get(), part.part, &value, CURLU_URLDECODE) == CURLUE_OK && value != nullptr)
            *part.into = value;
        curl_free(value);
    }
    return !host.empty();
}

bool IsLoopbackHost(std::string host)
{
    if (host == "localhost")
        return true;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    unsigned char address[16];
    if (inet_pton(AF_INET, host.c_str(), address) == 1)
        return address[0] == 127;
    static const unsigned char kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return inet_pton(AF_INET6, host.c_str(), address) == 1 && std::memcmp(address, kLoopback6, 16) == 0;
}

// What every transfer does: the time limits, certificates checked, no
// redirects, no signals (the sending thread is not the main one).
void SetCommonOptions(CURL* curl, const std::string& url, int timeoutSeconds, char* errorText)
{
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeoutSeconds < 10 ? timeoutSeconds : 10));
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
}

std::string DescribeCurlFailure(CURLcode code, const char* errorText)
{
    return errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
}

struct MailReader
{
    const std::string* mail;
    size_t sent;
};

size_t ReadMail(char* buffer, size_t size, size_t count, void* data)
{
    MailReader* reader = static_cast<MailReader*>(data);
    const size_t left = reader->mail->size() - reader->sent;
    const size_t n = left < size * count ? left : size * count;
    std::memcpy(buffer, reader->mail->data() + reader->sent, n);
    reader->sent += n;
    return n;
}

// Whether url is one a webhook may have: http:// or https:// with a host.
bool IsWebhookUrl(const std::string& url)
{
    std::string scheme, host, user;
    return SplitUrl(url, scheme, host, user) && (scheme == "http" || scheme == "https");
}

}  // namespace

bool CheckAlertRule(const AlertRule& rule, std::string& error)
{
    if (rule.webhookUrl.empty() == rule.email.empty()) {
        error = "a rule needs --webhook URL or --email ADDRESS (one of them)";
        return false;
    }
    if (!rule.webhookUrl.empty() && !IsWebhookUrl(rule.webhookUrl)) {
        error = "bad --webhook '" + rule.webhookUrl + "': expected an http:// or https:// URL";
        return false;
    }
    if (!rule.email.empty() &&
        (rule.email.find('@') == std::string::npos || rule.email.size() > 254 ||
         rule.email.find_first_of(" <>,;\"\r\n\t") != std::string::npos)) {
        error = "bad --email '" + rule.email + "': expected one address";
        return false;
    }
    if (rule.events.empty()) {
        error = "--on needs one or more of new-group, regression, spike, bug-report";
        return false;
    }
    for (const std::string& event : rule.events) {
        if (!IsAlertEvent(event)) {
            error = "unknown event '" + event + "' for --on (expected new-group, regression, spike or bug-report)";
            return false;
        }
    }
    return true;
}

bool CheckSmtpUrl(const std::string& url, std::string& error)
{
    std::string scheme, host, user;
    if (!SplitUrl(url, scheme, host, user) || (scheme != "smtp" && scheme != "smtps")) {
        error = "bad --smtp '" + url + "': expected smtps://HOST[:PORT] or smtp://HOST[:PORT]";
        return false;
    }
    return true;
}

bool PostWebhook(const std::string& url, const std::string& secret, const std::string& body, int timeoutSeconds,
                 std::string& error)
{
    CurlEasy curl(curl_easy_init());
    CurlList headers;
    if (!curl || !AppendCurlList(headers, "Content-Type: application/json") ||
        !AppendCurlList(headers, "User-Agent: brevora-report-server") ||
        (!secret.empty() && !AppendCurlList(headers, ("X-Brevora-Signature: " + SignAlertBody(secret, body)).c_str()))) {
        error = "out of memory";
        return false;
    }
    char errorText[CURL_ERROR_SIZE] = "";
    SetCommonOptions(curl.get(), url, timeoutSeconds, errorText);
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, DiscardAnswer);
    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK) {
        error = DescribeCurlFailure(code, errorText);
        return false;
    }
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) {
        error = "the webhook answered " + std::to_string(status);
        return false;
    }
    return true;
}

bool SendMail(const SmtpSettings& smtp, const std::string& to, const std::string& mail, int timeoutSeconds,
              std::string& error)
{
    std::string scheme, host, user;
    if (!SplitUrl(smtp.url, scheme, host, user)) {
        error = "bad SMTP URL";
        return false;
    }
    CurlEasy curl(curl_easy_init());
    CurlList recipients;
    if (!curl || !AppendCurlList(recipients, ("<" + to + ">").c_str())) {
        error = "out of memory";
        return false;
    }
    char errorText[CURL_ERROR_SIZE] = "";
    SetCommonOptions(curl.get(), smtp.url, timeoutSeconds, errorText);
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    // smtps:// is TLS from the start; smtp:// must switch to it, but for a
    // relay on this machine, which the mail never leaves it to reach.
    if (scheme == "smtp")
        curl_easy_setopt(curl.get(), CURLOPT_USE_SSL, IsLoopbackHost(host) ? CURLUSESSL_NONE : CURLUSESSL_ALL);
    if (!smtp.password.empty())
        curl_easy_setopt(curl.get(), CURLOPT_PASSWORD, smtp.password.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_MAIL_FROM, ("<" + smtp.from + ">").c_str());
    curl_easy_setopt(curl.get(), CURLOPT_MAIL_RCPT, recipients.get());
    MailReader reader = {&mail, 0};
    curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, ReadMail);
    curl_easy_setopt(curl.get(), CURLOPT_READDATA, &reader);
    curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
    const CURLcode code = curl_easy_perform(curl.get());
    if (code != CURLE_OK) {
        error = DescribeCurlFailure(code, errorText);
        return false;
    }
    return true;
}
