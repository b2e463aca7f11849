// The server's command line: a command (serve, list, show, export) and its
// options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/listen_address.h"

enum class Command
{
    None,  // only --help
    Serve,
    List,
    Show,
    Export
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
    ListenAddress listen;
    uint64_t maxBody = kDefaultMaxBody;
    bool failUploads = false;  // serve: answer every upload with 500, store none
    std::string tlsCert;       // serve: PEM certificate (chain) and its key; both or neither
    std::string tlsKey;
    int64_t id = 0;
    std::string outDir;
};

// Parses the arguments after the program name. On failure error is one
// line for the user; --help anywhere wins over every other problem but an
// unknown command.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

// The help text of a command (Command::None: of the program).
const char* GetUsage(Command command);
