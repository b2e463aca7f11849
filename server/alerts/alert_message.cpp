#include "server/alerts/alert_message.h"

#include <sodium.h>

#include <cstdio>

#include "server/base/utf8_text.h"

namespace {

// A text for one line of a mail header or a chat message: no control
// bytes (a signature comes from a dump), at most limit bytes.
std::string MakeOneLineText(const std::string& text, size_t limit)
{
    std::string line;
    for (char c : text) {
        if (line.size() >= limit) {
            line += "...";
            break;
        }
        line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
    }
    return line;
}

// A header's text: one line, ASCII (a name in another script would need
// an encoded word; a question mark says something was there).
std::string MakeHeaderText(const std::string& text)
{
    std::string line = MakeOneLineText(text, 200);
    for (char& c : line) {
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '?';
    }
    return line;
}

const char* DescribeEvent(const std::string& event)
{
    if (event == "new-group")
        return "New crash";
    if (event == "regression")
        return "Crash is back after its fix";
    if (event == "spike")
        return "Crash spike";
    return "New bug report";
}

void AddJsonField(std::string& json, const char* name, const std::string& text)
{
    json += std::string(json.size() > 1 ? "," : "") + "\"" + name + "\":\"" + EscapeJsonText(text) + "\"";
}

void AddJsonNumber(std::string& json, const char* name, int64_t value)
{
    json += std::string(json.size() > 1 ? "," : "") + "\"" + name + "\":" + std::to_string(value);
}

// "1.2 (5), 1.1 (2)".
std::string ListVersions(const AlertDelivery& delivery)
{
    std::string list;
    for (const auto& version : delivery.versions)
        list += (list.empty() ? "" : ", ") + (version.first.empty() ? "unknown" : version.first) + " (" +
                std::to_string(version.second) + ")";
    return list;
}

// The addresses of the group's and the report's pages under publicUrl
// (the maintainers' interface as the recipients reach it); empty without
// one.
std::string MakeGroupUrl(const std::string& publicUrl, int64_t groupId)
{
    if (publicUrl.empty() || groupId == 0)
        return "";
    return publicUrl + (publicUrl.back() == '/' ? "" : "/") + "crashes/" + std::to_string(groupId);
}

std::string MakeReportUrl(const std::string& publicUrl, int64_t reportId)
{
    if (publicUrl.empty())
        return "";
    return publicUrl + (publicUrl.back() == '/' ? "" : "/") + "reports/" + std::to_string(reportId);
}

// "New crash: SIGNATURE (3 reports, 1.2) URL": the event in one line.
std::string WriteAlertLine(const AlertDelivery& delivery, const std::string& publicUrl)
{
    std::string line = DescribeEvent(delivery.event);
    if (delivery.event == "bug-report") {
        line += " #" + std::to_string(delivery.reportId);
        if (!delivery.component.empty())
            line += " (" + MakeOneLineText(delivery.component, 100) + ")";
        const std::string url = MakeReportUrl(publicUrl, delivery.reportId);
        return url.empty() ? line : line + " " + url;
    }
    line += ": " + MakeOneLineText(delivery.signature, 300) + " (" + std::to_string(delivery.groupCount) +
            (delivery.groupCount == 1 ? " report" : " reports");
    if (delivery.event == "spike")
        line += ", " + std::to_string(delivery.hourCount) + " this hour";
    if (!delivery.version.empty())
        line += ", version " + MakeOneLineText(delivery.version, 50);
    line += ")";
    const std::string url = MakeGroupUrl(publicUrl, delivery.groupId);
    return url.empty() ? line : line + " " + url;
}

}  // namespace

std::string EscapeJsonText(const std::string& bytes)
{
    std::string out;
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            const size_t length = MeasureUtf8Sequence(bytes, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
                continue;
            }
            out.append(bytes, i, length);
            i += length;
            continue;
        }
        ++i;
    }
    return out;
}

std::string WriteAlertJson(const AlertDelivery& delivery, const std::string& publicUrl)
{
    std::string json = "{";
    AddJsonField(json, "event", delivery.event);
    AddJsonField(json, "text", WriteAlertLine(delivery, publicUrl));
    AddJsonNumber(json, "report_id", delivery.reportId);
    AddJsonField(json, "report_url", MakeReportUrl(publicUrl, delivery.reportId));
    AddJsonField(json, "received_utc", delivery.createdUtc);
    if (delivery.event == "bug-report") {
        AddJsonField(json, "component", delivery.component);
        return json + "}";
    }
    AddJsonField(json, "signature", delivery.signature);
    AddJsonNumber(json, "group_id", delivery.groupId);
    AddJsonField(json, "group_url", MakeGroupUrl(publicUrl, delivery.groupId));
    AddJsonNumber(json, "reports", delivery.groupCount);
    AddJsonNumber(json, "reports_this_hour", delivery.hourCount);
    AddJsonField(json, "version", delivery.version);
    json += ",\"versions\":[";
    for (size_t i = 0; i < delivery.versions.size(); ++i)
        json += std::string(i > 0 ? "," : "") + "{\"version\":\"" + EscapeJsonText(delivery.versions[i].first) +
                "\",\"reports\":" + std::to_string(delivery.versions[i].second) + "}";
    return json + "]}";
}

std::string SignAlertBody(const std::string& secret, const std::string& body)
{
    unsigned char mac[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char*>(secret.data()), secret.size());
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(body.data()), body.size());
    crypto_auth_hmacsha256_final(&state, mac);
    char hex[2 * sizeof mac + 1];
    sodium_bin2hex(hex, sizeof hex, mac, sizeof mac);
    return std::string("sha256=") + hex;
}

std::string WriteAlertMail(const AlertDelivery& delivery, const std::string& publicUrl, const std::string& from,
                           const std::string& to, const std::string& dateRfc5322)
{
    const std::string subject = "[Brevora] " + WriteAlertLine(delivery, "");
    std::string text = WriteAlertLine(delivery, publicUrl) + "\r\n\r\n";
    if (delivery.event != "bug-report") {
        text += "Signature: " + MakeOneLineText(delivery.signature, 900) + "\r\n";
        text += "Reports: " + std::to_string(delivery.groupCount) + " (" + std::to_string(delivery.hourCount) +
                " this hour)\r\n";
        text += "Versions: " + MakeOneLineText(ListVersions(delivery), 900) + "\r\n";
        text += "Group: " + MakeGroupUrl(publicUrl, delivery.groupId) + "\r\n";
    } else {
        text += "Component: " + MakeOneLineText(delivery.component, 900) + "\r\n";
    }
    text += "Report: " + std::to_string(delivery.reportId) + " " + MakeReportUrl(publicUrl, delivery.reportId) +
            "\r\nReceived: " + delivery.createdUtc + "\r\n";
    return "Date: " + dateRfc5322 + "\r\nFrom: " + MakeHeaderText(from) + "\r\nTo: " + MakeHeaderText(to) +
           "\r\nSubject: " + MakeHeaderText(subject) +
           "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
           text;
}
