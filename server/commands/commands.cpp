#include "server/commands/commands.h"

void PrintError(const std::string& message)
{
    std::fprintf(stderr, "brevora-report-server: error: %s\n", message.c_str());
}
