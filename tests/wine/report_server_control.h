// The reference report server of a test, as with_report_server.sh runs it:
// stopped and started again on the same port and folder, started with extra
// options, and its stored reports read back field by field.
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

// True when the launcher offers the control folder.
bool CanControlReportServer();

// Each returns false (and says why in error) when the launcher refused or
// did not answer in time.
bool StopReportServer(std::string& error);
bool StartReportServer(const std::string& options, std::string& error);
// Puts a line that passes the reporter's bytes at bytesPerSecond between the
// reporter and the server (StartReportServer takes it away again).
bool SlowDownReportServer(long bytesPerSecond, std::string& error);
// The slow line's log: "open" and "closed N" per connection.
std::string ReadSlowLinkLog();

// Every stored report, in the order of their ids.
bool ReadStoredReports(std::vector<StoredReport>& reports, std::string& error);
