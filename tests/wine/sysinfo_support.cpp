#include "tests/wine/sysinfo_support.h"

#include <cstring>
#include <cwchar>
#include <sstream>

#include "res/resource.h"
#include "tests/wine/screenshot.h"
#include "tests/wine/test_support.h"

const wchar_t kDxDiagToolPath[] = L"C:\\windows\\system32\\dxdiag.exe";

namespace {

const wchar_t kWineToolAside[] = L"C:\\windows\\system32\\dxdiag.exe.moved-by-tests";
const wchar_t kRecordName[] = L"standin-record.txt";
const wchar_t kReportSourceName[] = L"standin-report.bin";

void PutWineToolBack()
{
    if (GetFileAttributesW(kWineToolAside) == INVALID_FILE_ATTRIBUTES)
        return;
    EXPECT_TRUE(MoveFileExW(kWineToolAside, kDxDiagToolPath, MOVEFILE_REPLACE_EXISTING))
        << "cannot put Wine's dxdiag.exe back: " << GetLastError();
}

std::wstring Widen(const std::string& utf8)
{
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), NULL, 0);
    std::wstring wide(units, L'\0');
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), &wide[0], units);
    return wide;
}

// The hexadecimal number in a name "KRPxxxx.tmp".
unsigned UniqueNumberOf(const std::wstring& name)
{
    return static_cast<unsigned>(std::wcstoul(name.c_str() + 3, NULL, 16));
}

// Dark pixels on the screen inside the window's rectangle: drawn text.
int CountInk(HWND window)
{
    int ink = 0;
    for (DWORD pixel : CaptureWindowPixels(window)) {
        if ((pixel & 0xFF) + ((pixel >> 8) & 0xFF) + ((pixel >> 16) & 0xFF) < 3 * 96)
            ++ink;
    }
    return ink;
}

// Waits while the box stays up until its text has been drawn.
int WaitForTextInk(HWND box, DWORD timeoutMs)
{
    HWND text = GetWindow(box, GW_CHILD);
    DWORD start = GetTickCount();
    int ink = 0;
    while (text != NULL && IsWindowVisible(box) && (ink = CountInk(text)) == 0 && GetTickCount() - start < timeoutMs)
        Sleep(50);
    return ink;
}

}  // namespace

DxDiagAtFixedPath::DxDiagAtFixedPath(Tool tool)
{
    PutWineToolBack();
    if (tool != kWineTool)
        MoveWineToolAside(tool == kStandIn);
}

void DxDiagAtFixedPath::MoveWineToolAside(bool putStandIn)
{
    ASSERT_TRUE(MoveFileExW(kDxDiagToolPath, kWineToolAside, MOVEFILE_REPLACE_EXISTING))
        << "cannot move Wine's dxdiag.exe aside: " << GetLastError();
    if (putStandIn) {
        ASSERT_TRUE(CopyFileW(GetBuiltFile(L"dxdiag-standin\\dxdiag.exe").c_str(), kDxDiagToolPath, FALSE))
            << "cannot put the stand-in in place: " << GetLastError();
    }
}

DxDiagAtFixedPath::~DxDiagAtFixedPath()
{
    PutWineToolBack();  // over the stand-in, if there is one
}

EnvironmentChanges StandInEnvironment(const std::wstring& folder, const StandInScript& script)
{
    const std::wstring source = folder + L"\\" + kReportSourceName;
    EnvironmentChanges changes;
    changes.push_back({ L"DXDIAG_STANDIN_RECORD", folder + L"\\" + kRecordName });
    if (script.writesReport) {
        EXPECT_TRUE(WriteFileBytes(source, script.report)) << "cannot write the stand-in's report";
        changes.push_back({ L"DXDIAG_STANDIN_REPORT", source });
    } else {
        changes.push_back({ L"DXDIAG_STANDIN_REPORT", L"" });
    }
    changes.push_back({ L"DXDIAG_STANDIN_LINGER_MS", script.lingerMs ? std::to_wstring(script.lingerMs) : L"" });
    changes.push_back({ L"DXDIAG_STANDIN_DELAY_MS", script.delayMs ? std::to_wstring(script.delayMs) : L"" });
    changes.push_back({ L"DXDIAG_STANDIN_UNREADABLE", script.unreadable ? L"1" : L"" });
    return changes;
}

void SetEnvironment(const EnvironmentChanges& changes)
{
    for (const auto& change : changes)
        SetEnvironmentVariableW(change.first.c_str(), change.second.empty() ? NULL : change.second.c_str());
}

StandInRecord ReadStandInRecord(const std::wstring& folder)
{
    StandInRecord record;
    std::istringstream lines(ReadFileBytes(folder + L"\\" + kRecordName));
    std::string line;
    auto rest = [&line](const char* prefix) { return Widen(line.substr(std::strlen(prefix))); };
    while (std::getline(lines, line)) {
        if (line.compare(0, 9, "start at ") == 0) {
            ++record.starts;
        } else if (line.compare(0, 13, "command-line ") == 0) {
            record.commandLine = rest("command-line ");
        } else if (line.compare(0, 7, "target ") == 0) {
            record.target = rest("target ");
        } else if (line.compare(0, 10, "directory ") == 0) {
            record.directory = rest("directory ");
        } else if (line.compare(0, 5, "show ") == 0) {
            record.show = std::stoi(line.substr(5));
        } else if (line.compare(0, 7, "end at ") == 0) {
            record.ended = true;
            record.endTick = static_cast<DWORD>(std::stoul(line.substr(7)));
        } else if (line.compare(0, 6, "wrote ") == 0 && record.ended) {
            record.wroteLate = true;
        }
    }
    return record;
}


::testing::AssertionResult FindReporterFiles(const ScratchFolder& temp, ReporterFiles& files)
{
    std::vector<std::wstring> names;
    for (const std::wstring& name : temp.FileNames()) {
        if (name.compare(0, 3, L"KRP") == 0)
            names.push_back(name);
    }
    if (names.size() != 2)
        return ::testing::AssertionFailure() << names.size() << " files KRP*.tmp, not 2";
    // Unique numbers count up from one name to the next (16 bits, wrapping).
    unsigned first = UniqueNumberOf(names[0]), second = UniqueNumberOf(names[1]);
    bool inOrder = ((second - first) & 0xFFFF) < 0x8000;
    files.profile = temp.Path() + L"\\" + names[inOrder ? 0 : 1];
    files.report = temp.Path() + L"\\" + names[inOrder ? 1 : 0];
    return ::testing::AssertionSuccess();
}

std::vector<std::string> ProfileLines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

static bool IsSectionHeader(const std::string& line)
{
    return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

std::vector<std::string> SectionNames(const std::string& bytes)
{
    std::vector<std::string> names;
    for (const std::string& line : ProfileLines(bytes)) {
        if (IsSectionHeader(line))
            names.push_back(line.substr(1, line.size() - 2));
    }
    return names;
}

std::vector<std::string> SectionLines(const std::string& bytes, const std::string& section)
{
    std::vector<std::string> lines;
    bool inside = false;
    for (const std::string& line : ProfileLines(bytes)) {
        if (IsSectionHeader(line))
            inside = (line == "[" + section + "]");
        else if (inside && !line.empty())
            lines.push_back(line);
    }
    return lines;
}

const std::vector<std::string>& RecordedVariableNames()
{
    static const std::vector<std::string> names = { "PATH",        "HOMEPATH",        "TEMP",           "USERNAME",
                                                    "USERPROFILE", "GST_PLUGIN_PATH", "GTKMM_BASEPATH", "PYTHONPATH" };
    return names;
}

// Measures the wait box while it is up, then waits for it to end by itself.
static ::testing::AssertionResult InspectWaitBox(UserDriver& driver, HWND box, ReporterRun& run,
                                                 DWORD waitBoxTimeoutMs, const wchar_t* screenshotName)
{
    GetWindowRect(box, &run.waitBoxRect);
    run.waitBoxStyle = GetWindowLongW(box, GWL_STYLE);
    run.waitTextInk = WaitForTextInk(box, kWindowTimeoutMs);
    if (screenshotName != nullptr) {
        CreateDirectoryW(L"screenshots", NULL);
        if (!SaveWindowScreenshot(box, std::wstring(L"screenshots\\") + screenshotName))
            return ::testing::AssertionFailure() << "cannot save the screenshot";
    }
    if (!driver.WaitForWindowGone(box, waitBoxTimeoutMs))
        return ::testing::AssertionFailure() << "the wait box did not end by itself\n" << driver.Report();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult RunReporterUntilForm(UserDriver& driver, const ScratchFolder& temp,
                                                const EnvironmentChanges& extra, ReporterRun& run,
                                                DWORD waitBoxTimeoutMs, const wchar_t* screenshotName)
{
    RemoveBrevoraKey();
    EnvironmentChanges environment = ReporterEnvironment(temp.Path());
    environment.insert(environment.end(), extra.begin(), extra.end());
    if (!driver.Start(ReporterPath(), L"", environment))
        return ::testing::AssertionFailure() << "cannot start the reporter\n" << driver.Report();

    // The wait box: a dialog without a caption. Without a tool to wait for,
    // it may end before it can be looked at; it must have appeared all the same.
    HWND box = driver.WaitForDialog(L"", 0, kWindowTimeoutMs);
    if (box != NULL) {
        ::testing::AssertionResult inspected = InspectWaitBox(driver, box, run, waitBoxTimeoutMs, screenshotName);
        if (!inspected)
            return inspected;
    } else {
        const std::vector<std::wstring> shown = driver.ShownWindows();
        if (std::find(shown.begin(), shown.end(), L"#32770 ''") == shown.end())
            return ::testing::AssertionFailure() << "no wait box\n" << driver.Report();
    }
    run.waitBoxGoneTick = GetTickCount();

    HWND form = driver.WaitForDialog(kReporterCaption, IDC_SEND, kWindowTimeoutMs);
    if (form == NULL)
        return ::testing::AssertionFailure() << "no form after the wait box\n" << driver.Report();
    ReporterFiles files;
    ::testing::AssertionResult found = FindReporterFiles(temp, files);
    if (!found)
        return found << "\n" << driver.Report();
    run.profile = ReadFileBytes(files.profile);
    run.report = ReadFileBytes(files.report);

    if (!driver.Click(form, IDC_CANCEL) || !driver.WaitForExit(kExitTimeoutMs))
        return ::testing::AssertionFailure() << "the form did not end\n" << driver.Report();
    run.output = driver.Output();
    return ::testing::AssertionSuccess();
}
