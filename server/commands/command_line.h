// The server's command line: a command (serve, list, show, export, prune,
// forget, user, crash, binary, alert) and its options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report_format/crash_body.h"
#include "server/net/listen_address.h"
#include "server/net/serve_limits.h"

enum class Command
{
    None,  // only --help
    Serve,
    List,
    Show,
    Export,
    Prune,
    Forget,
    User,
    Crash,
    Binary,
    Alert
};

enum class UserAction
{
    Add,
    Remove,
    List
};

enum class CrashAction
{
    Groups,
    Reprocess
};

enum class BinaryAction
{
    Add,
    List
};

enum class AlertAction
{
    Add,
    List,
    Remove
};

const uint64_t kDefaultMaxBody = 32ull * 1024 * 1024;
// Raw body and decoded payloads share one SQLite row, which holds at most
// 1,000,000,000 bytes.
const uint64_t kLargestMaxBody = 512ull * 1024 * 1024;

struct CommandLine
{
    Command command = Command::None;
    bool help = false;
    std::string dataDir;
    std::string databaseUrl;  // --database: PostgreSQL instead of DIR/reports.db
    ListenAddress listen;
    uint64_t maxBody = kDefaultMaxBody;
    uint64_t maxCrashBody = kCrashBodyLimit;  // serve: the reporter's largest crash body
    bool failUploads = false;  // serve: answer every upload with 500, store none
    ServeLimits limits = MakeDefaultServeLimits();
    std::string tlsCert;       // serve: PEM certificate (chain) and its key; both or neither
    std::string tlsKey;
    int64_t id = 0;
    bool allReports = false;  // export: every report's stored fields, not one report's files
    bool rawBody = false;     // show: the body as received, byte for byte
    std::string outDir;
    int olderThanDays = -1;  // prune
    std::string email;       // forget
    ListenAddress adminListen;  // serve: the maintainers' listener
    bool adminListenGiven = false;  // serve: --admin-listen given, not defaulted
    bool noAdmin = false;       // serve: no maintainers' listener
    bool adminInsecure = false; // serve: the interface without TLS on a non-loopback address
    int64_t sessionLifetimeSeconds = 7 * 86400;  // serve: an interface session's whole life
    UserAction userAction = UserAction::List;
    std::string userName;       // user add, user remove
    CrashAction crashAction = CrashAction::Groups;
    std::vector<int64_t> ids;   // crash reprocess (none with --all)
    int periodDays = 0;         // crash groups: the last days, 0 for all time
    std::string version;        // crash groups: only this Brevora version
    int64_t limit = 50;         // crash groups
    BinaryAction binaryAction = BinaryAction::List;
    std::vector<std::string> files;  // binary add
    // alert, and serve's alert options (alert_arguments.cpp).
    AlertAction alertAction = AlertAction::List;
    std::string webhookUrl;     // alert add: one of webhookUrl and alertEmail
    std::string secretFile;
    std::string alertEmail;
    std::string alertEvents = "new-group,regression";  // alert add --on
    std::string components;     // alert add --component, comma-separated
    std::string publicUrl;      // serve: the interface's address in alerts
    std::string smtpUrl;        // serve: the mail server; empty: no mail
    std::string smtpFrom;
    std::string smtpPasswordFile;
};

// Parses the arguments after the program name. On failure error is one
// line for the user; --help anywhere wins over every other problem but an
// unknown command.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

// The arguments after crash and binary (crash_arguments.cpp).
bool ParseCrashArguments(const std::vector<std::string>& positionals, CommandLine& line, std::string& error);
bool ParseBinaryArguments(const std::vector<std::string>& positionals, CommandLine& line, std::string& error);
extern const char kCrashUsage[];
extern const char kBinaryUsage[];

// alert's options and arguments, and serve's alert options (alert_arguments.cpp).
namespace CLI {
class App;
}
void AddAlertOptions(CLI::App& command, bool serve, CommandLine& line);
bool ParseAlertArguments(const std::vector<std::string>& positionals, CommandLine& line, std::string& error);
bool CheckServeAlertOptions(const CommandLine& line, std::string& error);
// The rule alert add describes, without its secret (read from its file).
struct AlertRule;
AlertRule MakeAlertRule(const CommandLine& line);
extern const char kAlertUsage[];

// The help text of a command (Command::None: of the program).
const char* GetUsage(Command command);
