// A report that stays empty: the wait box checks it 100 times, 500 ms apart,
// and then goes on without it (some 50 seconds). The build of the reporter
// that makes kWaitDivisor times fewer checks shows the same in less time.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/wine/short_waits.h"
#include "tests/wine/sysinfo_support.h"

namespace {

const LONG kChecks = 100 / kWaitDivisor;
const LONG kCheckIntervalMs = 500;

TEST(WaitDialogSlow, EmptyReportGivesNoSectionAfterAHundredChecks)
{
    ScratchFolder temp(L"empty");
    DxDiagAtFixedPath place(DxDiagAtFixedPath::kStandIn);
    UseReporter(kShortWaitsReporter);
    UserDriver driver;
    ReporterRun run;
    ASSERT_TRUE(RunReporterUntilForm(driver, temp, StandInEnvironment(temp.Path(), StandInScript()), run, 90000));

    StandInRecord record = ReadStandInRecord(temp.Path());
    ASSERT_TRUE(record.ended);
    const LONG afterTool = static_cast<LONG>(run.waitBoxGoneTick - record.endTick);
    std::printf("wait box ended %.1f s after the tool\n", afterTool / 1000.0);
    EXPECT_GE(afterTool, kChecks * kCheckIntervalMs - 100) << "fewer than " << kChecks << " checks";
    EXPECT_LT(afterTool, kChecks * kCheckIntervalMs + 2500) << "the checks did not stop";

    EXPECT_EQ("", run.report);
    std::vector<std::string> sections = SectionNames(run.profile);
    ASSERT_FALSE(sections.empty()) << run.profile;
    EXPECT_EQ("System Information", sections[0]);
    EXPECT_EQ(RecordedVariableNames().size(), SectionLines(run.profile, "System Information").size()) << run.profile;
    EXPECT_EQ(std::string::npos, run.profile.find("[DxDiag]")) << run.profile;
}

}  // namespace
