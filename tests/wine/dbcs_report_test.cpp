// A report in a double-byte ANSI code page: run under a Japanese locale, so
// that the reporter started from here has code page 932 (Shift-JIS) too.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/wine/sysinfo_support.h"

namespace {

TEST(DoubleByteCodePage, ReportOfMultiByteCharactersIsStoredWholeAndNoMore)
{
    ASSERT_EQ(932u, GetACP()) << "not run under the Japanese locale: see LOCPATH in tests/wine/CMakeLists.txt";

    // "日本語" (one trail byte is '{'), "表" (trail byte '\'), half-width "ｱ"
    // (a single byte), "レポート" (trail bytes '|' and '['); 23 bytes, 15 characters.
    const std::string report = "\x93\xfa\x96{\x8c\xea\x95\\\xb1\r\n\x83\x8c\x83|\x81[\x83g end";
    ASSERT_EQ(15, MultiByteToWideChar(CP_ACP, 0, report.data(), static_cast<int>(report.size()), NULL, 0));

    ScratchFolder temp(L"dbcs");
    DxDiagAtFixedPath place(DxDiagAtFixedPath::kStandIn);
    StandInScript script;
    script.writesReport = true;
    script.report = report;
    UserDriver driver;
    ReporterRun run;
    ASSERT_TRUE(RunReporterUntilForm(driver, temp, StandInEnvironment(temp.Path(), script), run));

    // Written back in the same code page: the same bytes, then the line's end.
    EXPECT_NE(std::string::npos, run.profile.find("[DxDiag]\r\nContent=" + report + "\r\n[System Information]\r\n"))
        << run.profile;
}

}  // namespace
