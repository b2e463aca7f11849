// brevora-report-server: receives Brevora bug reports over HTTP, stores them
// in SQLite or PostgreSQL, and lists, shows, exports and removes them; reads
// crash dumps into groups of the same crash.
#include <cstdio>
#include <string>
#include <vector>

#include "server/commands/command_line.h"
#include "server/commands/commands.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine line;
    std::string error;
    if (!ParseCommandLine(args, line, error)) {
        PrintError(error);
        return 2;
    }
    if (line.help) {
        std::fputs(GetUsage(line.command), stdout);
        return 0;
    }

    switch (line.command) {
    case Command::Serve:
        return RunServe(line);
    case Command::List:
        return RunList(line, stdout);
    case Command::Show:
        return RunShow(line, stdout);
    case Command::Export:
        return RunExport(line, stdout);
    case Command::Prune:
        return RunPrune(line, stdout);
    case Command::Forget:
        return RunForget(line, stdout);
    case Command::User:
        return RunUser(line, stdout);
    case Command::Crash:
        return RunCrash(line, stdout);
    case Command::Binary:
        return RunBinary(line, stdout);
    case Command::None:
        break;
    }
    std::fputs(GetUsage(Command::None), stderr);
    return 2;
}
