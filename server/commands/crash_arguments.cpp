// The arguments of the crash and binary commands, and their help.
#include "server/commands/command_line.h"

#include "server/base/decimal_text.h"

const char kCrashUsage[] =
    "Usage: brevora-report-server crash groups --data DIR | --database URL [--days N] [--version V]\n"
    "                                          [--limit N]\n"
    "       brevora-report-server crash reprocess --data DIR | --database URL (--all | ID...)\n"
    "\n"
    "groups prints the crash groups with the most reports, one a line: the group's\n"
    "id, its reports in the period, its status, first and last seen (UTC) and its\n"
    "signature, separated by tabs. --days N counts only the last N days (today\n"
    "included), --version V only the reports of that Brevora version; --limit N\n"
    "groups at most (default 50).\n"
    "\n"
    "reprocess reads the dumps of the crash reports ID... (or with --all of every\n"
    "crash report) again with the release binaries now stored (see 'binary --help'),\n"
    "and files each under its signature, moving it between groups when its\n"
    "signature changed. Safe while servers run.\n"
    "\n"
    "  --data DIR      the data folder whose reports.db to read\n"
    "  --database URL  the PostgreSQL database instead (postgresql://...)\n";

const char kBinaryUsage[] =
    "Usage: brevora-report-server binary add --data DIR | --database URL FILE...\n"
    "       brevora-report-server binary list --data DIR | --database URL\n"
    "\n"
    "add stores Brevora's release executables and DLLs (PE files, as shipped, with\n"
    "their symbol tables where the build kept them), each under its file name, link\n"
    "time stamp and image size: the identity a crash dump records for a module. The\n"
    "stacks of crash reports whose dumps list one of them are then read again with\n"
    "its unwind data and function names, and the reports regrouped. list prints one\n"
    "line per stored binary: module, time stamp, image size, bytes, when added.\n"
    "\n"
    "  --data DIR      the data folder whose reports.db to read\n"
    "  --database URL  the PostgreSQL database instead (postgresql://...)\n";

bool ParseCrashArguments(const std::vector<std::string>& positionals, CommandLine& line, std::string& error)
{
    if (positionals.empty() || (positionals[0] != "groups" && positionals[0] != "reprocess")) {
        error = positionals.empty() ? "crash needs groups or reprocess"
                                    : "unknown crash action '" + positionals[0] + "' (expected groups or reprocess)";
        return false;
    }
    if (positionals[0] == "groups") {
        line.crashAction = CrashAction::Groups;
        if (positionals.size() > 1 || line.allReports) {
            error = positionals.size() > 1 ? "unexpected argument '" + positionals[1] + "' for crash groups"
                                           : "--all goes with crash reprocess";
            return false;
        }
        return true;
    }
    line.crashAction = CrashAction::Reprocess;
    if (line.allReports == (positionals.size() > 1)) {
        error = "crash reprocess needs --all or report IDs, not both";
        return false;
    }
    for (size_t i = 1; i < positionals.size(); ++i) {
        int64_t id = 0;
        if (!ParsePositiveId(positionals[i], id)) {
            error = "bad report id '" + positionals[i] + "': expected a positive whole number";
            return false;
        }
        line.ids.push_back(id);
    }
    return true;
}

bool ParseBinaryArguments(const std::vector<std::string>& positionals, CommandLine& line, std::string& error)
{
    if (!positionals.empty() && positionals[0] == "add" && positionals.size() > 1) {
        line.binaryAction = BinaryAction::Add;
        line.files.assign(positionals.begin() + 1, positionals.end());
        return true;
    }
    if (!positionals.empty() && positionals[0] == "list" && positionals.size() == 1) {
        line.binaryAction = BinaryAction::List;
        return true;
    }
    error = positionals.empty() || (positionals[0] != "add" && positionals[0] != "list")
                ? "binary needs add FILE... or list"
                : positionals[0] == "add" ? "binary add needs one or more files"
                                          : "unexpected argument '" + positionals[1] + "' for binary list";
    return false;
}
