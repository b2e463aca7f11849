// The reference report server of a test, run by the test itself: started on
// the reporter's port (again, or with extra options such as --fail-uploads),
// stopped, and its stored reports read back field by field through the
// server's own commands. with_report_server.sh names the server program and
// an empty data folder, and stops whatever still runs when the test ends.
#pragma once

#include <map>
#include <string>
#include <vector>

// One stored report: its id and every stored field by column name
// ("email", "description1", ..., "attachment", "attachment_state",
// "raw_body"), byte for byte.
struct StoredReport
{
    int id = 0;
    std::map<std::string, std::string> fields;
};

// True when the test runs through with_report_server.sh.
bool HaveReportServer();

// Each returns false and says why in error. A start stops a server that
// runs and returns once the new one listens; a stop returns once the
// server's process has ended.
bool StartReportServer(const std::string& options, std::string& error);
bool StopReportServer(std::string& error);
// Puts a line that passes the reporter's bytes at bytesPerSecond between the
// reporter and the server: the server moves to the next port, the line
// (slow_link.py) takes the reporter's; StartReportServer and StopReportServer
// take it away again.
// With loseFirstAnswer, the line passes the first request on whole and then
// resets the reporter's connection instead of passing on the answer.
bool SlowDownReportServer(long bytesPerSecond, std::string& error, bool loseFirstAnswer = false);
// The slow line's log: "open" and "closed N" per connection.
std::string ReadSlowLinkLog();

// Every stored report, in the order of their ids.
bool ReadStoredReports(std::vector<StoredReport>& reports, std::string& error);

// What the server's show prints of report id, as the maintainers read it.
bool ShowReport(int id, std::string& shown, std::string& error);

// Runs a command line of /bin/sh (Wine starts Unix programs, but gives no
// handle to wait on) and waits for its end; status receives its exit status.
bool RunUnixShell(const std::string& script, int& status, std::string& error, unsigned long timeoutMs = 60000);
