// The server's command line: a command (serve, list, show, export, prune,
// forget, user, crash, binary) and its options.
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
    Binary
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
    UserAction userAction = UserAction::List;
    std::string userName;       // user add, user remove
    CrashAction crashAction = CrashAction::Groups;
    std::vector<int64_t> ids;   // crash reprocess (none with --all)
    int periodDays = 0;         // crash groups: the last days, 0 for all time
    std::string version;        // crash groups: only this Brevora version
    int64_t limit = 50;         // crash groups
    BinaryAction binaryAction = BinaryAction::List;
    std::vector<std::string> files;  // binary add
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

// The help text of a command (Command::None: of the program).
const char* GetUsage(Command command);
