// Where alerts go out: a webhook (HTTP or HTTPS POST) or a mail through an
// SMTP server, both through libcurl with certificates checked, no
// redirects followed and a time limit.
#pragma once

#include <string>

// The mail server and how to log in to it.
struct SmtpSettings
{
    std::string url;       // smtps://host[:port] or smtp://host[:port], a user name in it if needed
    std::string from;      // the envelope and From address
    std::string password;  // empty: no login
};

#include "server/store/alert_store.h"

// Checks a rule before it is stored: one destination (a webhook URL, or
// one mail address), one or more known events. error says what is wrong,
// naming the command line's options.
bool CheckAlertRule(const AlertRule& rule, std::string& error);

// Checks an SMTP URL: smtps://, or smtp:// (STARTTLS then required unless
// the host is a loopback address). error says why not.
bool CheckSmtpUrl(const std::string& url, std::string& error);

// POSTs body as JSON, signed with secret when one is given; true on a 2xx
// answer, else false with error.
bool PostWebhook(const std::string& url, const std::string& secret, const std::string& body, int timeoutSeconds,
                 std::string& error);

// Sends mail (headers and text, CR LF lines) to one address.
bool SendMail(const SmtpSettings& smtp, const std::string& to, const std::string& mail, int timeoutSeconds,
              std::string& error);
