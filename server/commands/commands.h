// The nine commands of brevora-report-server. Each returns the exit status:
// 0 done, 1 failed (after one line on standard error).
#pragma once

#include <cstdio>
#include <string>

#include "server/commands/command_line.h"

// "brevora-report-server: error: ..." on standard error.
void PrintError(const std::string& message);

int RunServe(const CommandLine& line);
int RunList(const CommandLine& line, FILE* out);
int RunShow(const CommandLine& line, FILE* out);
int RunExport(const CommandLine& line, FILE* out);
int RunPrune(const CommandLine& line, FILE* out);
int RunForget(const CommandLine& line, FILE* out);
int RunUser(const CommandLine& line, FILE* out);
int RunCrash(const CommandLine& line, FILE* out);
int RunBinary(const CommandLine& line, FILE* out);

// The processed dump of crash report id, for show: processed first when no
// server has yet; a line saying why when it cannot be.
std::string DescribeCrashAnalysis(const CommandLine& line, int64_t id);
