// What an alert says: the webhook's JSON body with its one-line text, its
// signature, and the plain-text mail, all from one outbox row.
#pragma once

#include <string>

#include "server/store/alert_store.h"

// The webhook body: event, text, signature, group and report ids and pages,
// counts, versions, component, time.
std::string WriteAlertJson(const AlertDelivery& delivery, const std::string& publicUrl);

// "sha256=" and the lower-case hex HMAC-SHA256 of body under secret.
std::string SignAlertBody(const std::string& secret, const std::string& body);

// A whole mail (headers, blank line, text) from from to to; dateRfc5322 is
// its Date header's value.
std::string WriteAlertMail(const AlertDelivery& delivery, const std::string& publicUrl, const std::string& from,
                           const std::string& to, const std::string& dateRfc5322);

// Bytes as a JSON string's contents: quotes, backslashes and control bytes
// escaped, bytes that are not UTF-8 made U+FFFD.
std::string EscapeJsonText(const std::string& bytes);
