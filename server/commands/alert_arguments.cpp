// The alert command's arguments and serve's alert options, and their help.
#include <CLI/CLI.hpp>

#include "server/alerts/alert_transport.h"
#include "server/base/decimal_text.h"
#include "server/commands/command_line.h"

const char kAlertUsage[] =
    "Usage: brevora-report-server alert add --data DIR | --database URL\n"
    "                                       (--webhook URL [--secret-file FILE] | --email ADDRESS)\n"
    "                                       [--on EVENTS] [--component NAMES]\n"
    "       brevora-report-server alert list --data DIR | --database URL\n"
    "       brevora-report-server alert remove --data DIR | --database URL ID\n"
    "\n"
    "The rules that tell the maintainers of events as they happen. add makes one and\n"
    "prints its id; list prints one line per rule: id, events, components, and where\n"
    "the alerts go, then one line per recent delivery and what became of it; remove\n"
    "deletes a rule and whatever it still had to send. A running server (serve) sends\n"
    "the alerts: a webhook's JSON through --webhook, a mail through serve's --smtp.\n"
    "\n"
    "  --webhook URL       POST each event as JSON to this http:// or https:// address\n"
    "  --secret-file FILE  sign the webhook's bodies with the secret in FILE\n"
    "                      (X-Brevora-Signature: sha256=HMAC)\n"
    "  --email ADDRESS     mail each event to this address\n"
    "  --on EVENTS         comma-separated, of new-group, regression, spike and\n"
    "                      bug-report (default new-group,regression)\n"
    "  --component NAMES   bug reports only of these components (comma-separated)\n"
    "  --data DIR          the data folder whose reports.db holds the rules\n"
    "  --database URL      the PostgreSQL database instead (postgresql://...)\n";

namespace {

CLI::Option* AddTextOption(CLI::App& command, const char* name, std::string& into)
{
    return command.add_option(name, into)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

}  // namespace

AlertRule MakeAlertRule(const CommandLine& line)
{
    AlertRule rule;
    rule.events = SplitAlertList(line.alertEvents);
    rule.components = SplitAlertList(line.components);
    rule.webhookUrl = line.webhookUrl;
    rule.email = line.alertEmail;
    return rule;
}

void AddAlertOptions(CLI::App& command, bool serve, CommandLine& line)
{
    if (serve) {
        AddTextOption(command, "--public-url", line.publicUrl);
        AddTextOption(command, "--smtp", line.smtpUrl);
        AddTextOption(command, "--smtp-from", line.smtpFrom);
        AddTextOption(command, "--smtp-password-file", line.smtpPasswordFile);
        return;
    }
    AddTextOption(command, "--webhook", line.webhookUrl);
    AddTextOption(command, "--secret-file", line.secretFile);
    AddTextOption(command, "--email", line.alertEmail);
    AddTextOption(command, "--on", line.alertEvents);
    AddTextOption(command, "--component", line.components);
}

bool ParseAlertArguments(const std::vector<std::string>& positionals, CommandLine& line, std::string& error)
{
    const std::string action = positionals.empty() ? "" : positionals[0];
    if (action == "list" && positionals.size() == 1) {
        line.alertAction = AlertAction::List;
        return true;
    }
    if (action == "remove") {
        if (positionals.size() != 2 || !ParsePositiveId(positionals[1], line.id)) {
            error = "alert remove needs one rule id";
            return false;
        }
        line.alertAction = AlertAction::Remove;
        return true;
    }
    if (action != "add") {
        if (action == "list")
            error = "unexpected argument '" + positionals[1] + "' for alert list";
        else if (action.empty())
            error = "alert needs add, list or remove ID";
        else
            error = "unknown alert action '" + action + "' (expected add, list or remove)";
        return false;
    }
    line.alertAction = AlertAction::Add;
    if (positionals.size() > 1) {
        error = "unexpected argument '" + positionals[1] + "' for alert add";
        return false;
    }
    if (!line.secretFile.empty() && line.webhookUrl.empty()) {
        error = "--secret-file goes with --webhook";
        return false;
    }
    return CheckAlertRule(MakeAlertRule(line), error);
}

bool CheckServeAlertOptions(const CommandLine& line, std::string& error)
{
    if (!line.smtpUrl.empty() && !CheckSmtpUrl(line.smtpUrl, error))
        return false;
    if (!line.smtpUrl.empty() && line.smtpFrom.empty()) {
        error = "--smtp needs --smtp-from ADDRESS";
        return false;
    }
    if (line.smtpUrl.empty() && (!line.smtpFrom.empty() || !line.smtpPasswordFile.empty())) {
        error = "--smtp-from and --smtp-password-file go with --smtp";
        return false;
    }
    return true;
}
