// The wait box and the system information it gathers, driven as a user
// would: the reporter runs with a stand-in diagnostic tool (or Wine's own, or
// none) at the tool's fixed path, and the profile's bytes are read once the
// wait box has ended.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/wine/sysinfo_support.h"

namespace {

std::string ContentEntry(const std::string& report)
{
    return "Content=" + report + "\r\n";
}

::testing::AssertionResult HasAllVariables(const std::string& profile)
{
    std::vector<std::string> lines = SectionLines(profile, "System Information");
    const std::vector<std::string>& names = RecordedVariableNames();
    if (lines.size() != names.size())
        return ::testing::AssertionFailure() << lines.size() << " entries in [System Information]:\n" << profile;
    for (size_t i = 0; i < names.size(); ++i) {
        if (lines[i].compare(0, names[i].size() + 1, names[i] + "=") != 0)
            return ::testing::AssertionFailure() << "entry " << i << " is '" << lines[i] << "', not " << names[i];
    }
    return ::testing::AssertionSuccess();
}

// The profile's first sections; the form adds [Bug Report] behind them.
std::vector<std::string> LeadingSections(const std::string& profile, size_t count)
{
    std::vector<std::string> names = SectionNames(profile);
    names.resize(std::min(count, names.size()));
    return names;
}

// The text without its blanks: Wine's profile service, when it reads the
// file again for a later write, trims the lines of a multi-line value and
// the blanks around an equals sign in them.
std::string WithoutBlanks(const std::string& text)
{
    std::string kept;
    for (char c : text) {
        if (c != ' ' && c != '\t')
            kept += c;
    }
    return kept;
}

class WaitDialog : public ::testing::Test
{
protected:
    WaitDialog() : m_temp(L"wait") {}

    ::testing::AssertionResult RunWith(DxDiagAtFixedPath::Tool tool, const StandInScript& script,
                                       EnvironmentChanges extra = EnvironmentChanges(),
                                       const wchar_t* screenshotName = nullptr)
    {
        DxDiagAtFixedPath place(tool);
        if (tool == DxDiagAtFixedPath::kStandIn) {
            EnvironmentChanges standIn = StandInEnvironment(m_temp.Path(), script);
            extra.insert(extra.end(), standIn.begin(), standIn.end());
        }
        ::testing::AssertionResult result =
            RunReporterUntilForm(m_driver, m_temp, extra, m_run, kWindowTimeoutMs, screenshotName);
        m_standIn = ReadStandInRecord(m_temp.Path());
        return result;
    }

    ScratchFolder m_temp;
    UserDriver m_driver;
    ReporterRun m_run;
    StandInRecord m_standIn;
};

TEST_F(WaitDialog, IsCentredWithoutTitleBarAndEndsByItself)
{
    StandInScript script;
    script.writesReport = true;
    script.report = "Stand-in report";
    script.lingerMs = 2000;  // time to look at the box
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kStandIn, script, {}, L"wait-running.bmp"));

    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    const RECT& box = m_run.waitBoxRect;
    EXPECT_NEAR((desktop.left + desktop.right) / 2.0, (box.left + box.right) / 2.0, 1.0) << "horizontally";
    EXPECT_NEAR((desktop.top + desktop.bottom) / 2.0, (box.top + box.bottom) / 2.0, 1.0) << "vertically";
    EXPECT_NE(static_cast<LONG>(WS_CAPTION), m_run.waitBoxStyle & WS_CAPTION) << "the box has a title bar";
    EXPECT_GT(m_run.waitTextInk, 0) << "the box's text was not drawn while the tool ran";
    EXPECT_TRUE(ShowedWaitBoxThenForm(m_driver));
    EXPECT_EQ(1, m_standIn.starts);
}

TEST_F(WaitDialog, StartsTheToolWithTheReportPathAndWaitsForIt)
{
    StandInScript script;
    script.writesReport = true;
    script.report = "Stand-in report";
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kStandIn, script));

    ReporterFiles files;
    ASSERT_TRUE(FindReporterFiles(m_temp, files));
    EXPECT_EQ(files.report, m_standIn.target) << Narrow(m_standIn.commandLine);
    const std::wstring parameters = L" /t " + files.report;
    const std::wstring& line = m_standIn.commandLine;
    EXPECT_TRUE(line.size() > parameters.size() && line.compare(line.size() - parameters.size(), parameters.size(),
                                                                parameters) == 0)
        << Narrow(line);
    EXPECT_EQ(0, _wcsicmp(L"C:\\Windows\\system32", m_standIn.directory.c_str())) << Narrow(m_standIn.directory);
    EXPECT_EQ(SW_SHOWNORMAL, m_standIn.show);
    ASSERT_TRUE(m_standIn.ended);
}

TEST_F(WaitDialog, RecordsSetAndUnsetVariablesInTheirOrder)
{
    StandInScript script;
    script.writesReport = true;
    script.report = "Stand-in report";
    const std::wstring path = L"C:\\windows\\system32;C:\\windows;C:\\Program Files\\Brevora";
    EnvironmentChanges env = { { L"PATH", path },
                               { L"HOMEPATH", L"\\users\\tester" },
                               { L"USERNAME", L"tester" },
                               { L"USERPROFILE", L"C:\\users\\tester" },
                               { L"GST_PLUGIN_PATH", L"" },
                               { L"GTKMM_BASEPATH", L"C:\\gtkmm 2.4" },
                               { L"PYTHONPATH", L"" } };
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kStandIn, script, env));

    std::vector<std::string> expected = { "PATH=" + Narrow(path),
                                          "HOMEPATH=\\users\\tester",
                                          "TEMP=" + Narrow(m_temp.Path()),
                                          "USERNAME=tester",
                                          "USERPROFILE=C:\\users\\tester",
                                          "GST_PLUGIN_PATH=%GST_PLUGIN_PATH%",
                                          "GTKMM_BASEPATH=C:\\gtkmm 2.4",
                                          "PYTHONPATH=%PYTHONPATH%" };
    EXPECT_EQ(expected, SectionLines(m_run.profile, "System Information")) << m_run.profile;
    EXPECT_EQ((std::vector<std::string>{ "DxDiag", "System Information" }), LeadingSections(m_run.profile, 2));
}

TEST_F(WaitDialog, ReportCompleteAtTheFirstCheckIsReadAfterOneSleep)
{
    StandInScript script;
    script.writesReport = true;
    // No blank lines or leading blanks: Wine's service drops those when it
    // reads the file again for the next write.
    script.report = "Report line one\r\nline two\r\nline three";
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kStandIn, script));

    EXPECT_NE(std::string::npos, m_run.profile.find("[DxDiag]\r\n" + ContentEntry(script.report))) << m_run.profile;
    ASSERT_TRUE(m_standIn.ended);
    const LONG afterTool = static_cast<LONG>(m_run.waitBoxGoneTick - m_standIn.endTick);
    std::printf("wait box ended %ld ms after the tool\n", afterTool);
    EXPECT_GE(afterTool, 490) << "the check that finds the report is followed by a sleep";
}

TEST_F(WaitDialog, ReportWrittenAfterTheToolEndedIsPickedUpByPolling)
{
    StandInScript script;
    script.writesReport = true;
    script.report = "Late report";
    script.delayMs = 2500;
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kStandIn, script));

    EXPECT_TRUE(m_standIn.wroteLate);
    EXPECT_NE(std::string::npos, m_run.profile.find(ContentEntry(script.report))) << m_run.profile;
    const LONG afterTool = static_cast<LONG>(m_run.waitBoxGoneTick - m_standIn.endTick);
    std::printf("wait box ended %ld ms after the tool\n", afterTool);
    EXPECT_GE(afterTool, 2500);
}

TEST_F(WaitDialog, ReportWithNulEndsContentAtTheNul)
{
    StandInScript script;
    script.writesReport = true;
    script.report = std::string("Before the NUL\r\nsecond line\0after the NUL\r\n", 42);
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kStandIn, script));

    EXPECT_EQ(script.report, m_run.report) << "the report file itself is left whole";
    EXPECT_NE(std::string::npos, m_run.profile.find(ContentEntry("Before the NUL\r\nsecond line"))) << m_run.profile;
    EXPECT_EQ(std::string::npos, m_run.profile.find("after the NUL")) << m_run.profile;
}

TEST_F(WaitDialog, MissingToolGivesNoSectionNoBoxAndTheFormFollows)
{
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kNothing, StandInScript()));

    EXPECT_TRUE(ShowedWaitBoxThenForm(m_driver));
    std::vector<std::string> sections = SectionNames(m_run.profile);
    ASSERT_FALSE(sections.empty()) << m_run.profile;
    EXPECT_EQ("System Information", sections[0]);
    EXPECT_EQ(0u, std::count(sections.begin(), sections.end(), "DxDiag"));
    EXPECT_TRUE(HasAllVariables(m_run.profile));
    EXPECT_EQ("", m_run.output);
}

TEST_F(WaitDialog, UnopenableReportIsSaidOnStandardOutput)
{
    StandInScript script;
    script.unreadable = true;
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kStandIn, script));

    unsigned code = 0;
    int used = 0;
    ASSERT_EQ(1, std::sscanf(m_run.output.c_str(), "CreateFile failed (%u)%n", &code, &used)) << m_run.output;
    // Standard output is in text mode: the line ends in CR LF.
    EXPECT_EQ("\r\n", m_run.output.substr(static_cast<size_t>(used))) << m_run.output;
    EXPECT_EQ((std::vector<std::string>{ "System Information" }), LeadingSections(m_run.profile, 1));
    EXPECT_EQ(std::string::npos, m_run.profile.find("[DxDiag]")) << m_run.profile;
    EXPECT_TRUE(ShowedWaitBoxThenForm(m_driver));
}

TEST_F(WaitDialog, WineToolReportLandsInContent)
{
    DWORD start = GetTickCount();
    ASSERT_TRUE(RunWith(DxDiagAtFixedPath::kWineTool, StandInScript()));
    std::printf("with Wine's dxdiag the form appeared after %.1f s\n", (GetTickCount() - start) / 1000.0);

    ASSERT_FALSE(m_run.report.empty()) << "Wine's dxdiag wrote no report";
    EXPECT_EQ((std::vector<std::string>{ "DxDiag", "System Information" }), LeadingSections(m_run.profile, 2));
    EXPECT_TRUE(HasAllVariables(m_run.profile));

    // Line by line the report, up to a NUL if it has one, as Wine's profile
    // service leaves it (see WithoutBlanks; it may drop empty lines too).
    std::vector<std::string> expected, stored;
    for (const std::string& line : ProfileLines(m_run.report.substr(0, m_run.report.find('\0')))) {
        std::string kept = WithoutBlanks(expected.empty() ? "Content=" + line : line);
        if (!kept.empty())
            expected.push_back(kept);
    }
    bool inside = false;
    for (const std::string& line : ProfileLines(m_run.profile)) {
        if (!line.empty() && line[0] == '[')
            inside = (line == "[DxDiag]");
        else if (inside && !WithoutBlanks(line).empty())
            stored.push_back(WithoutBlanks(line));
    }
    EXPECT_EQ(expected, stored);
}

}  // namespace
