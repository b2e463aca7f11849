// Crash mode end to end: the reporter started with three paths, driven as a
// user would, with the stand-in mail program in its folder recording what
// the mail carried, beside a reference report server of its own
// (with_report_server.sh) for the upload that stands in when the mail
// cannot go out. CTest runs this with WINEDLLOVERRIDES=mapi32=n: Wine
// reads it from the Unix environment that the reporter inherits (not from
// the environment block CreateProcess is given) and then loads our
// mapi32.dll instead of its own, or none when the folder has none.
#include <windows.h>
#include <mapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "build_settings.h"
#include "res/resource.h"
#include "tests/wine/mapi_record.h"
#include "tests/wine/report_server_control.h"
#include "tests/wine/screenshot.h"
#include "tests/wine/startup_support.h"
#include "tests/wine/test_support.h"

namespace {

const DWORD kMailTimeoutMs = 20000;

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, NULL, NULL);
    out.resize(size - 1);
    return out;
}

std::string Ansi(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], size, NULL, NULL);
    out.resize(size - 1);
    return out;
}

// Where the reporter keeps crash reports it could not send.
std::wstring KeptReportsFolder()
{
    WCHAR base[MAX_PATH] = L"";
    SHGetFolderPathW(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_CURRENT, base);
    return std::wstring(base) + L"\\Brevora\\Unsent crash reports";
}

std::vector<std::wstring> ListKeptReports()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((KeptReportsFolder() + L"\\*.crash").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// Waits for a condition that the reporter's background thread brings about.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs)
{
    for (const DWORD start = GetTickCount(); !condition(); Sleep(50)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
    }
    return true;
}

// The prefix is shared with other tests: none of them may find a kept report.
void ClearKeptReports()
{
    for (const std::wstring& name : ListKeptReports())
        DeleteFileW((KeptReportsFolder() + L"\\" + name).c_str());
}

// A folder holding the reporter and the stand-in mapi32.dll next to it, as a
// user's mail program would be found, plus the crash files of one test.
class CrashModeTest : public ::testing::Test
{
protected:
    CrashModeTest() : m_folder(L"crash-e2e") {}

    void SetUp() override
    {
        ClearKeptReports();
        m_reporter = m_folder.Path() + L"\\brevora-bugreporter.exe";
        ASSERT_TRUE(CopyFileW(ReporterPath().c_str(), m_reporter.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((GetExeDir() + L"mapi-full\\mapi32.dll").c_str(), MailLibraryPath().c_str(), FALSE));
        m_record = m_folder.Path() + L"\\mail-record.txt";
        m_hold = m_folder.Path() + L"\\compose-closed";
        // Where the mail cannot go out, the report goes to the server.
        if (HaveReportServer()) {
            std::string error;
            ASSERT_TRUE(StartReportServer("", error)) << error;
        }
    }

    void TearDown() override { ClearKeptReports(); }

    std::wstring FilePath(const wchar_t* name) const { return m_folder.Path() + L"\\" + name; }
    std::wstring MailLibraryPath() const { return m_folder.Path() + L"\\mapi32.dll"; }

    std::wstring CreateCrashFile(const wchar_t* name, const std::string& bytes = "data")
    {
        std::wstring path = FilePath(name);
        EXPECT_TRUE(WriteFileBytes(path, bytes)) << "cannot create a crash file";
        return path;
    }

    // Starts the reporter in crash mode and waits for its dialog.
    HWND StartCrashDialog(UserDriver& driver, const std::wstring& dump, const std::wstring& log,
                          const std::wstring& conf, const wchar_t* mapiResult = L"SUCCESS_SUCCESS",
                          bool holdComposeWindow = false)
    {
        EnvironmentChanges env = ReporterEnvironment(m_folder.Path());
        env.push_back({ L"BREVORA_MAPI_RECORD", m_record });
        env.push_back({ L"BREVORA_MAPI_RESULT", mapiResult });
        env.push_back({ L"BREVORA_MAPI_HOLD", holdComposeWindow ? m_hold : L"" });
        std::wstring args = L"\"" + dump + L"\" \"" + log + L"\" \"" + conf + L"\"";
        if (!driver.Start(m_reporter, args, env))
            return NULL;
        return driver.WaitForDialog(kCrashCaption, IDC_COMMENTS, kWindowTimeoutMs);
    }

    // Waits until the mail program has been called (and, if asked, returned).
    bool WaitForMail(bool returned, DWORD timeoutMs = kMailTimeoutMs)
    {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            MapiRecord r = ReadMapiRecord(m_record);
            if (!r.sends.empty() && (!returned || r.sends[0].returned))
                return true;
            Sleep(50);
        }
        return false;
    }

    // Types the comment, presses Send Report and returns the mail once the
    // mail program has returned; the dialog is then left to close itself.
    RecordedSend SendWithComment(UserDriver& driver, HWND dialog, const std::wstring& comment)
    {
        if (!comment.empty()) {
            EXPECT_TRUE(driver.Type(dialog, IDC_COMMENTS, comment));
        }
        EXPECT_TRUE(driver.Click(dialog, IDC_SEND));
        EXPECT_TRUE(WaitForMail(true)) << driver.Report();
        MapiRecord r = ReadMapiRecord(m_record);
        EXPECT_EQ(1u, r.sends.size()) << driver.Report();
        return r.sends.empty() ? RecordedSend() : r.sends[0];
    }

    // The mail is checked; closing the dialog spares waiting for its timer.
    void CloseAndExpectStatusZero(UserDriver& driver, HWND dialog)
    {
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        ExpectEndsWithStatusZero(driver);
    }

    void ExpectEndsWithStatusZero(UserDriver& driver)
    {
        EXPECT_TRUE(driver.WaitForExit(kExitTimeoutMs + 10000)) << driver.Report();
        EXPECT_EQ(0u, driver.ExitCode()) << driver.Report();
    }

    ScratchFolder m_folder;
    std::wstring m_reporter;
    std::wstring m_record;
    std::wstring m_hold;
};

TEST_F(CrashModeTest, MailCarriesAddressesSubjectUtf8CommentAndTheThreeFiles)
{
    const std::wstring dump = CreateCrashFile(L"brevora.dmp");
    const std::wstring log = CreateCrashFile(L"brevora.log");
    const std::wstring conf = CreateCrashFile(L"brevora.conf");
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, dump, log, conf);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();

    // Enter arrives as a carriage return; the edit stores a line break as CR LF.
    const std::wstring typed = L"Gr\u00fc\u00dfe \u2013 it froze \u65e5\u672c \U0001F600\rsecond line";
    const std::wstring comment = L"Gr\u00fc\u00dfe \u2013 it froze \u65e5\u672c \U0001F600\r\nsecond line";
    ASSERT_TRUE(driver.Type(dialog, IDC_COMMENTS, typed));
    ASSERT_TRUE(driver.WaitForText(dialog, IDC_COMMENTS, comment, 5000)) << driver.Report();
    EXPECT_TRUE(WaitUntilDrawnOnScreen(dialog, 10000));
    CreateDirectoryW(L"screenshots", NULL);
    EXPECT_TRUE(SaveWindowScreenshot(dialog, L"screenshots\\crash-comment.bmp"));
    RecordedSend mail = SendWithComment(driver, dialog, L"");

    EXPECT_EQ(static_cast<unsigned long>(MAPI_DIALOG), mail.flags);
    EXPECT_EQ(0u, mail.session);
    EXPECT_EQ(0u, mail.uiParam);
    EXPECT_EQ("Brevora Bug Reporter", mail.subject);
    EXPECT_EQ(Utf8(comment), mail.noteText) << "the comment as UTF-8 bytes";
    ASSERT_TRUE(mail.originatorSet);
    EXPECT_EQ(BREVORA_CRASH_MAILBOX, mail.originator.address);
    EXPECT_EQ("", mail.originator.name);
    ASSERT_EQ(1u, mail.recips.size());
    EXPECT_EQ(static_cast<unsigned long>(MAPI_TO), mail.recips[0].recipClass);
    EXPECT_EQ(BREVORA_CRASH_MAILBOX, mail.recips[0].address);
    EXPECT_EQ("", mail.recips[0].name);

    // The mail program sees the files in the byte order of their paths.
    ASSERT_EQ(3u, mail.files.size());
    EXPECT_EQ(Ansi(conf), mail.files[0].path);
    EXPECT_EQ("brevora.conf", mail.files[0].name);
    EXPECT_EQ(Ansi(dump), mail.files[1].path);
    EXPECT_EQ("brevora.dmp", mail.files[1].name);
    EXPECT_EQ(Ansi(log), mail.files[2].path);
    EXPECT_EQ("brevora.log", mail.files[2].name);
    CloseAndExpectStatusZero(driver, dialog);
}

TEST_F(CrashModeTest, CommentLongerThan500CharactersArrivesWhole)
{
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, FilePath(L"none.dmp"), FilePath(L"none.log"), FilePath(L"none.conf"));
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    std::wstring comment;
    for (int i = 0; i < 60; ++i)
        comment += L"0123456789";
    RecordedSend mail = SendWithComment(driver, dialog, comment);
    EXPECT_EQ(600u, mail.noteText.size());
    EXPECT_EQ(Utf8(comment), mail.noteText);
    CloseAndExpectStatusZero(driver, dialog);
}

struct EmptyCommentCase
{
    const char* name;
    const wchar_t* typed;
};

class CrashEmptyComment : public CrashModeTest, public ::testing::WithParamInterface<EmptyCommentCase> {};

TEST_P(CrashEmptyComment, GivesAnEmptyMessageText)
{
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, FilePath(L"none.dmp"), FilePath(L"none.log"), FilePath(L"none.conf"));
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    RecordedSend mail = SendWithComment(driver, dialog, GetParam().typed);
    EXPECT_FALSE(mail.noteTextNull);
    EXPECT_EQ("", mail.noteText);
    EXPECT_TRUE(mail.files.empty());
    EXPECT_FALSE(mail.filesSet);
    CloseAndExpectStatusZero(driver, dialog);
}

INSTANTIATE_TEST_SUITE_P(Comments, CrashEmptyComment,
                         ::testing::Values(EmptyCommentCase{ "NoneTyped", L"" },
                                           EmptyCommentCase{ "TypedAndErased", L"oops\b\b\b\b" }),
                         [](const ::testing::TestParamInfo<EmptyCommentCase>& info) { return std::string(info.param.name); });

struct AttachmentCase
{
    const char* name;
    bool dumpExists, logExists, confExists;
    bool dumpIsLog;          // the dump argument names the log's file
    bool emptyDumpPath;      // the dump argument is ""
    std::vector<const char*> names;  // attachment names, in the mail's order
};

class CrashAttachments : public CrashModeTest, public ::testing::WithParamInterface<AttachmentCase> {};

TEST_P(CrashAttachments, OnlyExistingFilesAreAttached)
{
    const AttachmentCase& c = GetParam();
    // Paths chosen so that their byte order (a, b, c) differs from the order
    // in which they are added (dump, conf, log).
    std::wstring dump = FilePath(L"c-crash.dmp"), log = FilePath(L"b-app.log"), conf = FilePath(L"a-app.conf");
    if (c.dumpExists)
        CreateCrashFile(L"c-crash.dmp");
    if (c.logExists)
        CreateCrashFile(L"b-app.log");
    if (c.confExists)
        CreateCrashFile(L"a-app.conf");
    if (c.dumpIsLog)
        dump = log;
    if (c.emptyDumpPath)
        dump = L"";

    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, dump, log, conf);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    RecordedSend mail = SendWithComment(driver, dialog, L"x");
    ASSERT_EQ(c.names.size(), mail.files.size()) << driver.Report();
    EXPECT_EQ(c.names.size(), mail.fileCount);
    for (size_t i = 0; i < c.names.size(); ++i)
        EXPECT_EQ(c.names[i], mail.files[i].name) << "attachment " << i;
    CloseAndExpectStatusZero(driver, dialog);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CrashAttachments,
    ::testing::Values(
        AttachmentCase{ "AllThreeInPathOrder", true, true, true, false, false, { "brevora.conf", "brevora.log", "brevora.dmp" } },
        AttachmentCase{ "OnlyTheLog", false, true, false, false, false, { "brevora.log" } },
        AttachmentCase{ "DumpAndLogSameFile", false, true, false, true, false, { "brevora.log" } },
        AttachmentCase{ "EmptyDumpPathMissingConf", false, true, false, false, true, { "brevora.log" } },
        AttachmentCase{ "NoneExist", false, false, false, false, false, {} }),
    [](const ::testing::TestParamInfo<AttachmentCase>& info) { return std::string(info.param.name); });

TEST_F(CrashModeTest, EscapeDoesNothing)
{
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, FilePath(L"none.dmp"), FilePath(L"none.log"), FilePath(L"none.conf"));
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    // Esc in the comment edit, which has the focus and would lose what the
    // user typed were it to close the dialog; then what the dialog manager
    // makes of the key anywhere else.
    ASSERT_TRUE(driver.Type(dialog, IDC_COMMENTS, L"typed"));
    HWND comments = GetDlgItem(dialog, IDC_COMMENTS);
    PostMessageW(comments, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(comments, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    EXPECT_FALSE(driver.WaitForWindowGone(dialog, 1500)) << "Esc in the comment ended the dialog\n" << driver.Report();
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(driver.WaitForWindowGone(dialog, 1500)) << "IDCANCEL ended the dialog\n" << driver.Report();
    EXPECT_EQ(L"typed", ReadWindowText(comments));
    EXPECT_TRUE(driver.IsRunning());
    ASSERT_TRUE(driver.Click(dialog, IDC_DONTSEND));
    ExpectEndsWithStatusZero(driver);
}

TEST_F(CrashModeTest, DontSendEndsWithoutLoadingTheMailLibrary)
{
    const std::wstring log = CreateCrashFile(L"brevora.log");
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, FilePath(L"none.dmp"), log, FilePath(L"none.conf"));
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    ASSERT_TRUE(driver.Type(dialog, IDC_COMMENTS, L"never mind"));
    ASSERT_TRUE(driver.Click(dialog, IDC_DONTSEND));
    ExpectEndsWithStatusZero(driver);
    MapiRecord r = ReadMapiRecord(m_record);
    EXPECT_EQ(0, r.attaches) << "mapi32.dll was loaded";
    EXPECT_TRUE(r.sends.empty());
}

struct ResultCase
{
    const char* name;
    const wchar_t* result;
};

class CrashMailResult : public CrashModeTest, public ::testing::WithParamInterface<ResultCase> {};

// The three controls are disabled while the mail program's window is open,
// and the dialog ends by itself some 5 s after it returned, whatever it said.
TEST_P(CrashMailResult, DialogClosesItselfAfterTheMailProgramReturns)
{
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, FilePath(L"none.dmp"), FilePath(L"none.log"), FilePath(L"none.conf"),
                                   GetParam().result, true);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    ASSERT_TRUE(driver.Type(dialog, IDC_COMMENTS, L"hello"));
    ASSERT_TRUE(driver.Click(dialog, IDC_SEND));
    ASSERT_TRUE(WaitForMail(false)) << driver.Report();

    for (int id : { IDC_COMMENTS, IDC_SEND, IDC_DONTSEND }) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, id)));
    }
    EXPECT_TRUE(IsWindow(dialog));

    ASSERT_TRUE(WriteFileBytes(m_hold, ""));  // the user closes the compose window
    ASSERT_TRUE(WaitForMail(true)) << driver.Report();
    ASSERT_TRUE(driver.WaitForWindowGone(dialog, 15000)) << driver.Report();
    const double seconds = (GetTickCount() - ReadMapiRecord(m_record).sends[0].returnTick) / 1000.0;
    std::printf("dialog ended %.2f s after the mail program returned\n", seconds);
    // Its 5 s timer starts once the call has returned; a late timer and
    // the look for the window's end add a little.
    EXPECT_GE(seconds, 4.98);
    EXPECT_LT(seconds, 6.0);
    ExpectEndsWithStatusZero(driver);
}

INSTANTIATE_TEST_SUITE_P(Results, CrashMailResult,
                         ::testing::Values(ResultCase{ "Sent", L"SUCCESS_SUCCESS" },
                                           ResultCase{ "Discarded", L"MAPI_USER_ABORT" },
                                           ResultCase{ "Failed", L"MAPI_E_FAILURE" }),
                         [](const ::testing::TestParamInfo<ResultCase>& info) { return std::string(info.param.name); });

TEST_F(CrashModeTest, ClosingWhileTheComposeWindowIsOpenEndsCleanly)
{
    const std::wstring log = CreateCrashFile(L"brevora.log");
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, FilePath(L"none.dmp"), log, FilePath(L"none.conf"),
                                   L"SUCCESS_SUCCESS", true);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    ASSERT_TRUE(driver.Click(dialog, IDC_SEND));
    ASSERT_TRUE(WaitForMail(false)) << driver.Report();

    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    EXPECT_TRUE(driver.WaitForExit(kExitTimeoutMs)) << "hangs with the mail thread blocked\n" << driver.Report();
    EXPECT_EQ(0u, driver.ExitCode()) << driver.Report();
    EXPECT_FALSE(ReadMapiRecord(m_record).sends[0].returned);
    EXPECT_EQ(std::string::npos, driver.Output().find("exception")) << driver.Output();
}

// The upload that stands in for the mail: the report server's copy of a
// crash report, read back through its own export --all.
struct DeliveryCase
{
    const char* name;
    const wchar_t* mapiResult;  // null: no mail library at all
    bool serverUp;
    bool dumpOverLimit;         // a dump larger than any crash body
    size_t mails;               // calls of MAPISendMail
    bool stored;                // the server holds the report
    bool warned;                // the warning box before the dialog ends
    bool kept;                  // ... and a copy kept, which the next start delivers
};

class CrashDelivery : public CrashModeTest, public ::testing::WithParamInterface<DeliveryCase>
{
protected:
    void TearDown() override
    {
        RemoveBrevoraKey();
        CrashModeTest::TearDown();
    }
};

std::string MakeDumpBytes()
{
    std::string bytes("MDMP\x93\xa7\0\0", 8);
    for (int i = 0; i < 40000; ++i)
        bytes += static_cast<char>(i % 7 == 0 ? 0 : (i * 131) & 0xFF);  // NUL bytes all through
    return bytes;
}

// A sparse file: its size costs no disk and no time to make.
bool CreateSparseFile(const std::wstring& path, LONGLONG size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool sized = SetFilePointerEx(file, end, NULL, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return sized;
}

TEST_P(CrashDelivery, MailFirstThenTheServerAndTheUserWarnedOnlyWhenBothFail)
{
    const DeliveryCase& c = GetParam();
    ASSERT_TRUE(HaveReportServer()) << "run through with_report_server.sh";
    std::string error;
    if (!c.serverUp) {
        ASSERT_TRUE(StopReportServer(error)) << error;
    }
    if (c.mapiResult == NULL) {
        ASSERT_TRUE(DeleteFileW(MailLibraryPath().c_str()));
    }

    const std::string dumpBytes = MakeDumpBytes();
    const std::string logBytes = "12:00:01 start\r\n12:00:02 playing\r\n12:00:03 crashed\r\n";
    const std::string confBytes = "[video]\nrenderer=gl\n";
    const std::wstring dump = FilePath(L"crash-1.dmp");
    if (c.dumpOverLimit) {
        ASSERT_TRUE(CreateSparseFile(dump, 64LL * 1024 * 1024 + 1));
    } else {
        CreateCrashFile(L"crash-1.dmp", dumpBytes);
    }
    const std::wstring log = CreateCrashFile(L"app.log", logBytes);
    const std::wstring conf = CreateCrashFile(L"app.conf", confBytes);

    SetInstalledVersion(L"3.0.2 \u03b2");
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, dump, log, conf, c.mapiResult != NULL ? c.mapiResult : L"SUCCESS_SUCCESS");
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    const std::wstring comment = L"Crashed while seeking \u2013 \u65e5\u672c";
    ASSERT_TRUE(driver.Type(dialog, IDC_COMMENTS, comment));
    ASSERT_TRUE(driver.Click(dialog, IDC_SEND));

    if (c.warned) {
        HWND box = driver.WaitForMessageBox(kReporterCaption, 40000);
        ASSERT_NE(static_cast<HWND>(NULL), box) << driver.Report();
        EXPECT_EQ(dialog, GetWindow(box, GW_OWNER)) << "owned by the crash dialog";
        const std::wstring text = driver.Read(box).messageText;
        EXPECT_NE(std::wstring::npos, text.find(L"\n" + m_folder.Path() + L"\n")) << Narrow(text);
        EXPECT_EQ(c.kept, text.find(L"A copy of the report is kept") != std::wstring::npos) << Narrow(text);
        EXPECT_TRUE(IsWindow(dialog)) << "the dialog waits for the box";
        ASSERT_TRUE(driver.Click(box, IDOK));
    }
    EXPECT_TRUE(driver.WaitForWindowGone(dialog, 40000)) << driver.Report();
    ExpectEndsWithStatusZero(driver);

    // The crash dialog, and the warning only when both ways failed.
    EXPECT_EQ(c.warned ? 2u : 1u, driver.ShownWindows().size()) << driver.Report();
    EXPECT_EQ(c.mails, ReadMapiRecord(m_record).sends.size());
    EXPECT_EQ(c.kept ? 1u : 0u, ListKeptReports().size());
    if (c.kept) {
        // The next start, the server back: the copy goes, once and unseen,
        // as it was made (Brevora has written on since).
        ASSERT_TRUE(WriteFileBytes(log, "rewritten since"));
        ASSERT_TRUE(StartReportServer("", error)) << error;
        UserDriver next;
        HWND again = StartCrashDialog(next, dump, log, conf);
        ASSERT_NE(static_cast<HWND>(NULL), again) << next.Report();
        EXPECT_TRUE(WaitUntil([] { return ListKeptReports().empty(); }, 30000)) << "the kept report stays";
        ASSERT_TRUE(next.Click(again, IDC_DONTSEND));
        ExpectEndsWithStatusZero(next);
        EXPECT_EQ(1u, next.ShownWindows().size()) << next.Report();
    } else if (!c.serverUp) {
        return;
    }

    std::vector<StoredReport> reports;
    ASSERT_TRUE(ReadStoredReports(reports, error)) << error;
    ASSERT_EQ(c.stored || c.kept ? 1u : 0u, reports.size());
    if (reports.empty())
        return;
    std::map<std::string, std::string>& f = reports[0].fields;
    EXPECT_EQ("crash", f["kind"]);
    EXPECT_EQ(Utf8(comment), f["comment"]);
    EXPECT_EQ("brevora.dmp", f["attachment_dump_name"]);
    EXPECT_EQ("brevora.log", f["attachment_log_name"]);
    EXPECT_EQ("brevora.conf", f["attachment_conf_name"]);
    EXPECT_EQ(c.dumpOverLimit ? "placeholder" : "content", f["attachment_dump_state"]);
    EXPECT_TRUE((c.dumpOverLimit ? std::string() : dumpBytes) == f["attachment_dump"])
        << f["attachment_dump"].size() << " bytes of the dump";
    EXPECT_EQ("content", f["attachment_log_state"]);
    EXPECT_EQ(logBytes, f["attachment_log"]);
    EXPECT_EQ("content", f["attachment_conf_state"]);
    EXPECT_EQ(confBytes, f["attachment_conf"]);
    EXPECT_EQ("Brevora Bug Reporter", f["user_agent"]);
    EXPECT_EQ(Utf8(L"3.0.2 \u03b2"), f["version"]);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CrashDelivery,
    ::testing::Values(
        DeliveryCase{ "MailSent", L"SUCCESS_SUCCESS", true, false, 1, false, false, false },
        DeliveryCase{ "MailDiscardedByTheUser", L"MAPI_USER_ABORT", true, false, 1, false, false, false },
        DeliveryCase{ "MailFailedUploaded", L"MAPI_E_FAILURE", true, false, 1, true, false, false },
        DeliveryCase{ "NoMailLibraryUploaded", NULL, true, false, 0, true, false, false },
        DeliveryCase{ "MailFailedServerDown", L"MAPI_E_FAILURE", false, false, 1, false, true, true },
        DeliveryCase{ "NoMailLibraryServerDown", NULL, false, false, 0, false, true, true },
        DeliveryCase{ "DumpOverTheLimitLeftOut", L"MAPI_E_FAILURE", true, true, 1, true, false, false }),
    [](const ::testing::TestParamInfo<DeliveryCase>& info) { return std::string(info.param.name); });

// A kept body the server refuses as malformed will never pass: it goes.
TEST_F(CrashModeTest, KeptReportRefusedAsMalformedIsDropped)
{
    ASSERT_TRUE(HaveReportServer()) << "run through with_report_server.sh";
    SHCreateDirectoryExW(NULL, KeptReportsFolder().c_str(), NULL);
    ASSERT_TRUE(WriteFileBytes(KeptReportsFolder() + L"\\20260101T000000000Z-0123abcd.crash", "not a crash body"));
    const std::wstring file = CreateCrashFile(L"app.log");
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, file, file, file);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    EXPECT_TRUE(WaitUntil([] { return ListKeptReports().empty(); }, 30000)) << "the refused report stays";
    ASSERT_TRUE(driver.Click(dialog, IDC_DONTSEND));
    ExpectEndsWithStatusZero(driver);
    std::vector<StoredReport> reports;
    std::string error;
    ASSERT_TRUE(ReadStoredReports(reports, error)) << error;
    EXPECT_TRUE(reports.empty());
}

// At most five reports and 256 MiB are kept, the oldest going first: here
// the count drops the oldest, and the bytes the two after it.
TEST_F(CrashModeTest, KeepingAReportDropsTheOldestBeyondTheBound)
{
    ASSERT_TRUE(HaveReportServer()) << "run through with_report_server.sh";
    std::string error;
    ASSERT_TRUE(StopReportServer(error)) << error;
    ASSERT_TRUE(DeleteFileW(MailLibraryPath().c_str()));
    const std::wstring folder = KeptReportsFolder();
    SHCreateDirectoryExW(NULL, folder.c_str(), NULL);
    const std::wstring older[] = { L"20260101T000000000Z-01.crash", L"20260102T000000000Z-02.crash",
                                   L"20260103T000000000Z-03.crash", L"20260104T000000000Z-04.crash",
                                   L"20260105T000000000Z-05.crash" };
    for (const std::wstring& name : older)
        ASSERT_TRUE(WriteFileBytes(folder + L"\\" + name, "an older report"));
    ASSERT_TRUE(CreateSparseFile(folder + L"\\" + older[2], 256LL * 1024 * 1024 - 1024));

    const std::wstring file = CreateCrashFile(L"app.log", std::string(4096, 'x'));
    UserDriver driver;
    HWND dialog = StartCrashDialog(driver, file, file, file);
    ASSERT_NE(static_cast<HWND>(NULL), dialog) << driver.Report();
    ASSERT_TRUE(driver.Click(dialog, IDC_SEND));
    HWND box = driver.WaitForMessageBox(kReporterCaption, 40000);
    ASSERT_NE(static_cast<HWND>(NULL), box) << driver.Report();
    EXPECT_NE(std::wstring::npos, driver.Read(box).messageText.find(L"A copy of the report is kept"));
    ASSERT_TRUE(driver.Click(box, IDOK));
    ExpectEndsWithStatusZero(driver);

    std::vector<std::wstring> kept = ListKeptReports();
    std::sort(kept.begin(), kept.end());
    ASSERT_EQ(3u, kept.size());
    EXPECT_EQ(older[3], kept[0]);
    EXPECT_EQ(older[4], kept[1]);
    EXPECT_GT(kept[2], older[4]) << "the new report is the newest";
}

}  // namespace
