// What the tests of the system-information gathering share: the diagnostic
// tool's fixed place in the test prefix, the stand-in tool and its record,
// and reading the report profile's bytes.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/wine/startup_support.h"

extern const wchar_t kDxDiagToolPath[];

// What sits at the tool's fixed path while an object of this class lives.
// Wine's own tool is put back at the end, and first of all too, should an
// earlier run have ended before it could do so.
class DxDiagAtFixedPath
{
public:
    enum Tool { kWineTool, kStandIn, kNothing };
    explicit DxDiagAtFixedPath(Tool tool);
    ~DxDiagAtFixedPath();
    DxDiagAtFixedPath(const DxDiagAtFixedPath&) = delete;
    DxDiagAtFixedPath& operator=(const DxDiagAtFixedPath&) = delete;

private:
    void MoveWineToolAside(bool putStandIn);
};

// What the stand-in is to do on its start.
struct StandInScript
{
    bool writesReport = false;
    std::string report;           // bytes of the report
    DWORD lingerMs = 0;           // stays this long before it writes and ends
    DWORD delayMs = 0;            // report written this long after its end
    bool unreadable = false;      // a folder takes the report file's place
};

// Variables that make the stand-in follow script and keep its record in
// folder; for the reporter's environment or, set in this process, for the
// tool started from here. Wine runs the file at the path, not its built-in
// tool, only when the test runs with WINEDLLOVERRIDES=dxdiag.exe=n,b: Wine
// reads that from the Unix environment, which children inherit whole.
EnvironmentChanges StandInEnvironment(const std::wstring& folder, const StandInScript& script);
void SetEnvironment(const EnvironmentChanges& changes);

// The stand-in's record of its starts.
struct StandInRecord
{
    int starts = 0;
    std::wstring commandLine;
    std::wstring target;
    std::wstring directory;
    int show = -1;
    bool ended = false;
    DWORD endTick = 0;
    bool wroteLate = false;
};
StandInRecord ReadStandInRecord(const std::wstring& folder);


// The reporter's two files in its temporary folder: the profile is made
// first, the diagnostic report second.
struct ReporterFiles
{
    std::wstring profile;
    std::wstring report;
};
::testing::AssertionResult FindReporterFiles(const ScratchFolder& temp, ReporterFiles& files);

// The profile's lines (CR LF ends each), and its section names in order.
std::vector<std::string> ProfileLines(const std::string& bytes);
std::vector<std::string> SectionNames(const std::string& bytes);
// The lines of one section, without its header; empty when it is missing.
std::vector<std::string> SectionLines(const std::string& bytes, const std::string& section);

// What a run of the reporter up to its form showed and left behind.
struct ReporterRun
{
    RECT waitBoxRect = {};
    LONG waitBoxStyle = 0;
    int waitTextInk = 0;  // dark pixels on screen where the box's text stands
    DWORD waitBoxGoneTick = 0;
    std::string profile;  // bytes once the wait box had ended
    std::string report;   // the diagnostic report file's bytes
    std::string output;   // standard output and error
};

// Starts the reporter (no installed version, so no server is asked) with
// its own temporary folder and the extra variables, watches the wait box
// until it ends by itself, reads both files once the form is shown, and ends
// the form. A screenshot of the wait box goes to screenshots/ when named.
::testing::AssertionResult RunReporterUntilForm(UserDriver& driver, const ScratchFolder& temp,
                                                const EnvironmentChanges& extra, ReporterRun& run,
                                                DWORD waitBoxTimeoutMs = kWindowTimeoutMs,
                                                const wchar_t* screenshotName = nullptr);

// The environment variables the reporter records, in their order.
const std::vector<std::string>& RecordedVariableNames();
