// alert add, list and remove: the rules kept beside the reports.
#include <cstdlib>
#include <memory>

#include "server/alerts/alert_service.h"
#include "server/base/file_io.h"
#include "server/base/log_text.h"
#include "server/commands/commands.h"
#include "server/store/store_factory.h"

namespace {

// what names the file in the error: "cannot read WHAT 'PATH': reason".
bool ReadSecretFile(const std::string& path, const std::string& what, std::string& secret, std::string& error)
{
    if (ReadWholeFile(path, secret, error) != ReadResult::Read) {
        error = "cannot read " + what + " '" + path + "'" + (error.empty() ? "" : ": " + error);
        return false;
    }
    // A trailing line break is the editor's, not the secret's.
    while (!secret.empty() && (secret.back() == '\n' || secret.back() == '\r'))
        secret.pop_back();
    return true;
}

int AddRule(AlertStore& store, const CommandLine& line, FILE* out)
{
    AlertRule rule = MakeAlertRule(line);
    rule.addedUtc = FormatUtcNow();
    std::string error;
    if (!line.secretFile.empty()) {
        if (!ReadSecretFile(line.secretFile, "the secret file", rule.secret, error)) {
            PrintError(error);
            return 1;
        }
        if (rule.secret.empty()) {
            PrintError("the secret file '" + line.secretFile + "' is empty");
            return 1;
        }
    }
    if (!store.AddRule(rule, error)) {
        PrintError(error);
        return 1;
    }
    std::fprintf(out, "%lld\n", static_cast<long long>(rule.id));
    return 0;
}

std::string JoinWords(const std::vector<std::string>& words, const char* none)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : ",") + word;
    return text.empty() ? none : text;
}

int ListRules(AlertStore& store, FILE* out)
{
    std::vector<AlertRule> rules;
    std::vector<AlertDelivery> deliveries;
    std::string error;
    if (!store.ListRules(rules, error) || !store.ListDeliveries(50, deliveries, error)) {
        PrintError(error);
        return 1;
    }
    for (const AlertRule& rule : rules) {
        const std::string where = !rule.webhookUrl.empty()
                                      ? "webhook " + rule.webhookUrl + (rule.secret.empty() ? "" : " (signed)")
                                      : "email " + rule.email;
        std::fprintf(out, "%lld\t%s\t%s\t%s\n", static_cast<long long>(rule.id), JoinWords(rule.events, "-").c_str(),
                     EscapeControlBytes(JoinWords(rule.components, "any component"), false).c_str(),
                     EscapeControlBytes(where, false).c_str());
    }
    for (const AlertDelivery& d : deliveries)
        std::fprintf(out, "delivery %lld\trule %lld\t%s\treport %lld\t%s\t%d attempts\t%s\n",
                     static_cast<long long>(d.id), static_cast<long long>(d.rule.id), d.event.c_str(),
                     static_cast<long long>(d.reportId), d.status.c_str(), d.attempts,
                     EscapeControlBytes(d.lastError, false).c_str());
    return 0;
}

}  // namespace

bool MakeAlertSettings(const CommandLine& line, AlertSettings& settings, std::string& error)
{
    settings.publicUrl = line.publicUrl;
    settings.smtp.url = line.smtpUrl;
    settings.smtp.from = line.smtpFrom;
    if (!line.smtpPasswordFile.empty()) {
        if (!ReadSecretFile(line.smtpPasswordFile, "--smtp-password-file", settings.smtp.password, error))
            return false;
    } else if (const char* password = std::getenv("BREVORA_SMTP_PASSWORD")) {
        settings.smtp.password = password;
    }
    return true;
}

int RunAlert(const CommandLine& line, FILE* out)
{
    std::string error;
    std::unique_ptr<AlertStore> store = OpenAlertStore(line.dataDir, line.databaseUrl, error);
    if (!store) {
        PrintError(error);
        return 1;
    }
    if (line.alertAction == AlertAction::Add)
        return AddRule(*store, line, out);
    if (line.alertAction == AlertAction::List)
        return ListRules(*store, out);
    const StoreAnswer removed = store->RemoveRule(line.id, error);
    if (removed != StoreAnswer::Done) {
        PrintError(removed == StoreAnswer::NotFound ? "no alert rule " + std::to_string(line.id) : error);
        return 1;
    }
    std::fprintf(out, "alert rule %lld removed\n", static_cast<long long>(line.id));
    return 0;
}
