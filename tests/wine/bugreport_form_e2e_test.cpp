// The bug-report form driven as a user would, against the reference server:
// the component list, the example texts, the profile after each step, the
// details view, the keys, and the four refusals of Send.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_settings.h"
#include "res/resource.h"
#include "tests/wine/form_driver.h"

namespace {

const wchar_t kStepsExample[] =
    L"eg. \"I wanted to scan my USB stick (2 GB) for music and clicked on\n \u201Cadd\u201D beside E:/ in the music section\"";
const wchar_t kHappenedExample[] = L"eg. \"Brevora was scanning my USB stick for 5 minutes and nothing\n happened\"";
const wchar_t kShouldHappenExample[] =
    L"eg. \"Brevora should have scanned my USB stick and showed me all\n the songs of my USB stick.\"";
const std::wstring kEmailExample = std::wstring(L"eg. \"") + BREVORA_EXAMPLE_EMAIL + L"\"";

class BugReportForm : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!HaveReportServer())
            GTEST_SKIP() << "run through with_report_server.sh, which names the server";
        std::string error;
        ASSERT_TRUE(StartReportServer("", error)) << error;
        ServeFile("components.txt", "Player\nLibrary\n");
    }

    void ExpectEndsByCancel(FormRun& run)
    {
        ASSERT_TRUE(run.Driver().Click(run.Form(), IDC_CANCEL));
        EXPECT_TRUE(run.Driver().WaitForExit(kExitTimeoutMs)) << run.Driver().Report();
        EXPECT_EQ(0u, run.Driver().ExitCode());
    }
};

struct ComponentRow
{
    const char* name;
    std::string served;
    std::vector<std::wstring> items;
    std::string elementLine;  // the profile's raw "Element=" line; "" for none
    int status = 200;         // 404: no components.txt; 500: the server cannot read it
};

void PrintTo(const ComponentRow& row, std::ostream* os)
{
    *os << row.name;
}

class ComponentList : public BugReportForm, public ::testing::WithParamInterface<ComponentRow> {};

TEST_P(ComponentList, OffersTheServersComponentsAndWritesTheFirst)
{
    const ComponentRow& row = GetParam();
    if (row.status == 404)
        RemoveServedFile("components.txt");
    else if (row.status == 500)
        ServeFolderInstead("components.txt");
    else
        ServeFile("components.txt", row.served);
    FormRun run(L"components");
    ASSERT_NE(static_cast<HWND>(NULL), run.Start()) << run.Driver().Report();

    EXPECT_EQ(row.items, ReadComboItems(run.Form(), IDC_ELEMENT));
    EXPECT_EQ(row.items.empty() ? -1 : 0, ReadComboSelection(run.Form(), IDC_ELEMENT));
    std::string profile;
    ASSERT_TRUE(ReadFileBytes(run.ProfilePath(), profile));
    if (row.elementLine.empty())
        EXPECT_EQ(std::string::npos, profile.find("Element")) << profile;
    else
        EXPECT_NE(std::string::npos, profile.find(row.elementLine)) << profile;
    ExpectEndsByCancel(run);
}

INSTANTIATE_TEST_SUITE_P(Rows, ComponentList, ::testing::Values(
    ComponentRow{ "TwoComponents", "Player\nLibrary\n", { L"Player", L"Library" }, "\r\nElement=Player\r\n" },
    // An empty answer: the form's own single component.
    ComponentRow{ "NothingGivesTheFallback", "", { L"Brevora" }, "\r\nElement=Brevora\r\n" },
    ComponentRow{ "OnlyLineFeedsGiveNoEntry", "\n\n\n", {}, "" },
    ComponentRow{ "RunsOfLineFeedsCountAsOne", "\n\nPlayer\n\n\nLibrary", { L"Player", L"Library" },
                  "\r\nElement=Player\r\n" },
    ComponentRow{ "CarriageReturnsStayInTheNames", "Player\r\nLibrary\r\n", { L"Player\r", L"Library\r" },
                  "\r\nElement=Player\r" },
    // An error page is no list: its text never becomes components.
    ComponentRow{ "NotFoundGivesTheFallback", "", { L"Brevora" }, "\r\nElement=Brevora\r\n", 404 },
    ComponentRow{ "ServerErrorGivesTheFallback", "", { L"Brevora" }, "\r\nElement=Brevora\r\n", 500 }
), [](const ::testing::TestParamInfo<ComponentRow>& info) { return std::string(info.param.name); });

TEST_F(BugReportForm, StartsWithTheExamplesReadOnlyAndTheProfileHoldingElementAndEmail)
{
    FormRun run(L"form-start");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();

    // The edits keep the examples' bare line feeds as they are.
    EXPECT_EQ(kStepsExample, ReadControl(form, IDC_STEPS));
    EXPECT_EQ(kHappenedExample, ReadControl(form, IDC_HAPPENED));
    EXPECT_EQ(kShouldHappenExample, ReadControl(form, IDC_SHOULDHAPPEN));
    for (int id : { IDC_STEPS, IDC_HAPPENED, IDC_SHOULDHAPPEN })
        EXPECT_TRUE(IsReadOnly(form, id)) << id;
    EXPECT_EQ(kEmailExample, ReadControl(form, IDC_EMAIL));
    EXPECT_FALSE(IsEnabled(form, IDC_EMAIL));
    EXPECT_EQ(BST_UNCHECKED, SendMessageW(GetDlgItem(form, IDC_ALLOWCONTACT), BM_GETCHECK, 0, 0));
    EXPECT_EQ(IDC_ELEMENT, FocusedControlId(form));
    EXPECT_TRUE(WaitForBugReportSection(run, { { L"Element", L"Player" }, { L"Email", kEmailExample } }));
    // The version travels with the report, so the details view shows it: none
    // in this prefix's registry.
    EXPECT_TRUE(run.Section(L"Bug Report") ==
                ProfileEntries({ { L"Element", L"Player" }, { L"Version", L"" }, { L"Email", kEmailExample } }))
        << DescribeEntries(run.Section(L"Bug Report"));
    ExpectEndsByCancel(run);
}

TEST_F(BugReportForm, ProfileFollowsEachStep)
{
    FormRun run(L"form-steps");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    UserDriver& driver = run.Driver();
    const std::pair<std::wstring, std::wstring> element(L"Element", L"Player");
    const std::pair<std::wstring, std::wstring> example(L"Email", kEmailExample);

    // The first click empties the example and makes the edit writable; an
    // empty edit writes nothing.
    ASSERT_TRUE(ClickInto(driver, form, IDC_HAPPENED));
    ASSERT_TRUE(driver.WaitForText(form, IDC_HAPPENED, L"", 5000)) << driver.Report();
    EXPECT_FALSE(IsReadOnly(form, IDC_HAPPENED));
    EXPECT_TRUE(WaitForBugReportSection(run, { element, example }));

    ASSERT_TRUE(driver.Type(form, IDC_HAPPENED, L"abc"));
    ASSERT_TRUE(driver.WaitForText(form, IDC_HAPPENED, L"abc", 5000)) << driver.Report();
    EXPECT_TRUE(WaitForBugReportSection(run, { element, example, { L"Happened", L"abc" } }));

    // Erased completely: the last non-empty value stays.
    ASSERT_TRUE(driver.Type(form, IDC_HAPPENED, L"\b\b\b"));
    ASSERT_TRUE(driver.WaitForText(form, IDC_HAPPENED, L"", 5000)) << driver.Report();
    EXPECT_TRUE(WaitForBugReportSection(run, { element, example, { L"Happened", L"a" } }));

    // Leaving and coming back keeps the (empty) text: no example again.
    ASSERT_TRUE(ClickInto(driver, form, IDC_STEPS));
    ASSERT_TRUE(ClickInto(driver, form, IDC_HAPPENED));
    ASSERT_TRUE(WaitForFocus(form, IDC_HAPPENED, 5000));
    EXPECT_EQ(L"", ReadControl(form, IDC_HAPPENED));

    // Ticking: the edit is emptied and enabled, "Email" keeps the example.
    ASSERT_TRUE(driver.Click(form, IDC_ALLOWCONTACT));
    EXPECT_TRUE(WaitForBugReportSection(run, { element, example, { L"Happened", L"a" }, { L"AllowContact", L"1" } }));
    EXPECT_EQ(L"", ReadControl(form, IDC_EMAIL));
    EXPECT_TRUE(IsEnabled(form, IDC_EMAIL));

    ASSERT_TRUE(driver.Type(form, IDC_EMAIL, L"me@example.org"));
    EXPECT_TRUE(WaitForBugReportSection(
        run, { element, { L"Email", L"me@example.org" }, { L"Happened", L"a" }, { L"AllowContact", L"1" } }));

    // Unticking: the example is back, disabled, and both keys are gone.
    ASSERT_TRUE(driver.Click(form, IDC_ALLOWCONTACT));
    EXPECT_TRUE(WaitForBugReportSection(run, { element, { L"Happened", L"a" } }));
    EXPECT_EQ(kEmailExample, ReadControl(form, IDC_EMAIL));
    EXPECT_FALSE(IsEnabled(form, IDC_EMAIL));

    // Ticking again: the typed address is gone; a new one goes last.
    ASSERT_TRUE(driver.Click(form, IDC_ALLOWCONTACT));
    EXPECT_TRUE(WaitForBugReportSection(run, { element, { L"Happened", L"a" }, { L"AllowContact", L"1" } }));
    EXPECT_EQ(L"", ReadControl(form, IDC_EMAIL));
    ASSERT_TRUE(driver.Type(form, IDC_EMAIL, L"you@example.org"));
    EXPECT_TRUE(WaitForBugReportSection(
        run, { element, { L"Happened", L"a" }, { L"AllowContact", L"1" }, { L"Email", L"you@example.org" } }));

    // Choosing another component rewrites "Element" in its place.
    ASSERT_TRUE(PressKey(driver, form, IDC_ELEMENT, VK_DOWN));
    EXPECT_TRUE(WaitForBugReportSection(run, { { L"Element", L"Library" }, { L"Happened", L"a" },
                                               { L"AllowContact", L"1" }, { L"Email", L"you@example.org" } }));
    ExpectEndsByCancel(run);
}

// The details view's edit, once it is open.
HWND WaitForDetails(UserDriver& driver)
{
    return driver.WaitForDialog(L"Details", IDCANCEL, kWindowTimeoutMs);
}

std::wstring ProfileAsShown(const FormRun& run)
{
    std::string bytes;
    if (!ReadFileBytes(run.ProfilePath(), bytes) || bytes.empty())
        return std::wstring();
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.data(), static_cast<int>(bytes.size()), NULL, 0);
    std::wstring text(units, L'\0');
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes.data(), static_cast<int>(bytes.size()), &text[0], units);
    return text;
}

TEST_F(BugReportForm, DetailsViewShowsTheProfileAsOnDiskAndEscClosesIt)
{
    FormRun run(L"details");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    UserDriver& driver = run.Driver();

    ASSERT_TRUE(driver.Click(form, IDC_DETAILS));
    HWND details = WaitForDetails(driver);
    ASSERT_NE(static_cast<HWND>(NULL), details) << driver.Report();
    const std::wstring first = ReadControl(details, IDC_DETAILS);
    EXPECT_EQ(ProfileAsShown(run), first);
    EXPECT_NE(std::wstring::npos, first.find(L"Email=" + kEmailExample)) << Narrow(first);
    EXPECT_EQ(std::wstring::npos, first.find(L"Steps=")) << Narrow(first);
    EXPECT_TRUE(IsReadOnly(details, IDC_DETAILS));

    ASSERT_TRUE(PressKey(driver, details, IDC_DETAILS, VK_ESCAPE));
    ASSERT_TRUE(driver.WaitForWindowGone(details, 5000)) << "Esc closes the view\n" << driver.Report();

    // Opened again, it shows what has been written since.
    ASSERT_TRUE(run.Describe(IDC_STEPS, L"Scanned E:/", L"Scanned E:/"));
    ASSERT_TRUE(WaitForBugReportSection(
        run, { { L"Element", L"Player" }, { L"Email", kEmailExample }, { L"Steps", L"Scanned E:/" } }));
    ASSERT_TRUE(driver.Click(form, IDC_DETAILS));
    details = WaitForDetails(driver);
    ASSERT_NE(static_cast<HWND>(NULL), details) << driver.Report();
    const std::wstring second = ReadControl(details, IDC_DETAILS);
    EXPECT_EQ(ProfileAsShown(run), second);
    EXPECT_NE(std::wstring::npos, second.find(L"Steps=Scanned E:/")) << Narrow(second);
    ASSERT_TRUE(driver.Click(details, IDCANCEL));
    ASSERT_TRUE(driver.WaitForWindowGone(details, 5000)) << driver.Report();
    ExpectEndsByCancel(run);
}

// One thing the user does in a description edit, and what the edit then shows.
struct EditStep
{
    enum Kind { kType, kEnter, kPaste, kSelectAllAndDelete } kind;
    std::wstring text;   // typed or pasted
    std::wstring shown;
};

struct EditSequenceRow
{
    const char* name;
    std::vector<EditStep> steps;
    std::wstring steps_value;  // "Steps" afterwards: the edit's text, or its last non-empty text
};

void PrintTo(const EditSequenceRow& row, std::ostream* os)
{
    *os << row.name;
}

// As Ctrl+V does it: the text on the clipboard, then WM_PASTE to the edit.
bool PasteInto(UserDriver& driver, HWND dialog, int controlId, const std::wstring& text)
{
    driver.Note(L"paste into " + std::to_wstring(controlId));
    if (!OpenClipboard(NULL))
        return false;
    EmptyClipboard();
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (memory != NULL) {
        memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
        GlobalUnlock(memory);
        if (SetClipboardData(CF_UNICODETEXT, memory) == NULL)
            GlobalFree(memory);
    }
    CloseClipboard();
    return memory != NULL && PostMessageW(GetDlgItem(dialog, controlId), WM_PASTE, 0, 0);
}

::testing::AssertionResult RunEditStep(FormRun& run, const EditStep& step)
{
    UserDriver& driver = run.Driver();
    HWND form = run.Form();
    bool done = false;
    switch (step.kind) {
    case EditStep::kType:
        done = driver.Type(form, IDC_STEPS, step.text);
        break;
    case EditStep::kEnter:
        done = PressKey(driver, form, IDC_STEPS, VK_RETURN);
        break;
    case EditStep::kPaste:
        done = PasteInto(driver, form, IDC_STEPS, step.text);
        break;
    case EditStep::kSelectAllAndDelete:
        SendMessageW(GetDlgItem(form, IDC_STEPS), EM_SETSEL, 0, -1);
        done = PressKey(driver, form, IDC_STEPS, VK_DELETE);
        break;
    }
    if (!done || !driver.WaitForText(form, IDC_STEPS, step.shown, 5000))
        return ::testing::AssertionFailure() << "the edit does not show \"" << Narrow(step.shown) << "\"\n"
                                             << driver.Report();
    return ::testing::AssertionSuccess();
}

std::wstring CountedLines(const std::wstring& text)
{
    size_t count = 0;
    for (size_t at = text.find(L"\r\n"); at != std::wstring::npos; at = text.find(L"\r\n", at + 2))
        ++count;
    return std::to_wstring(count);
}

class EditSequence : public BugReportForm, public ::testing::WithParamInterface<EditSequenceRow> {};

// After any edits the profile, and so the details view, holds each
// description once, as the edit holds it: no line of an earlier value stays.
TEST_P(EditSequence, LeavesTheProfileAndTheDetailsViewExact)
{
    const EditSequenceRow& row = GetParam();
    FormRun run(L"edits");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    ASSERT_TRUE(ClickInto(run.Driver(), form, IDC_STEPS));
    ASSERT_TRUE(run.Driver().WaitForText(form, IDC_STEPS, L"", 5000)) << run.Driver().Report();
    for (const EditStep& step : row.steps)
        ASSERT_TRUE(RunEditStep(run, step));

    // [Bug Report] is the last section; nothing may follow its three entries.
    const std::wstring section = L"[Bug Report]\r\nElement=Player\r\nVersion=\r\nEmail=" + kEmailExample + L"\r\nSteps=" +
                                 row.steps_value + L"\r\n";
    std::wstring profile;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 5000; Sleep(50)) {
        profile = ProfileAsShown(run);
        if (profile.size() >= section.size() && profile.compare(profile.size() - section.size(), section.size(),
                                                                section) == 0)
            break;
    }
    ASSERT_GE(profile.size(), section.size()) << Narrow(profile);
    EXPECT_EQ(section, profile.substr(profile.size() - section.size()))
        << "the profile ends:\n" << Narrow(profile.substr(profile.size() - section.size()));
    EXPECT_EQ(profile.find(L"[Bug Report]"), profile.rfind(L"[Bug Report]"));
    EXPECT_EQ(CountedLines(section), CountedLines(profile.substr(profile.find(L"[Bug Report]"))));

    ASSERT_TRUE(run.Driver().Click(form, IDC_DETAILS));
    HWND details = WaitForDetails(run.Driver());
    ASSERT_NE(static_cast<HWND>(NULL), details) << run.Driver().Report();
    EXPECT_EQ(profile, ReadControl(details, IDC_DETAILS));
    ASSERT_TRUE(run.Driver().Click(details, IDCANCEL));
    ASSERT_TRUE(run.Driver().WaitForWindowGone(details, 5000)) << run.Driver().Report();
    ExpectEndsByCancel(run);
}

const EditStep::Kind kType = EditStep::kType, kEnter = EditStep::kEnter, kPaste = EditStep::kPaste,
                     kClear = EditStep::kSelectAllAndDelete;

INSTANTIATE_TEST_SUITE_P(Rows, EditSequence, ::testing::Values(
    EditSequenceRow{ "TypeTwoLines",
                     { { kType, L"Opened the music section", L"Opened the music section" },
                       { kEnter, L"", L"Opened the music section\r\n" },
                       { kType, L"clicked add", L"Opened the music section\r\nclicked add" } },
                     L"Opened the music section\r\nclicked add" },
    EditSequenceRow{ "EraseBackAcrossTheLineBreak",
                     { { kType, L"one", L"one" }, { kEnter, L"", L"one\r\n" }, { kType, L"two", L"one\r\ntwo" },
                       { kType, L"\b\b\b\b\b", L"on" } },
                     L"on" },
    EditSequenceRow{ "PasteABlockThenTypeOn",
                     { { kType, L"Steps: ", L"Steps: " },
                       { kPaste, L"open\r\nscan\r\nwait", L"Steps: open\r\nscan\r\nwait" },
                       { kType, L"\b\b\b\bcrash", L"Steps: open\r\nscan\r\ncrash" } },
                     L"Steps: open\r\nscan\r\ncrash" },
    // Emptied at once: the last value, all its lines, stays once.
    EditSequenceRow{ "EmptyTheField",
                     { { kType, L"one", L"one" }, { kEnter, L"", L"one\r\n" }, { kType, L"two", L"one\r\ntwo" },
                       { kClear, L"", L"" } },
                     L"one\r\ntwo" },
    EditSequenceRow{ "EmptyThenTypeAgain",
                     { { kPaste, L"a\r\nb\r\nc", L"a\r\nb\r\nc" }, { kClear, L"", L"" }, { kType, L"d", L"d" } },
                     L"d" }
), [](const ::testing::TestParamInfo<EditSequenceRow>& info) { return std::string(info.param.name); });

TEST_F(BugReportForm, EscDoesNothingAndEnterMakesANewLineInADescription)
{
    FormRun run(L"keys");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    UserDriver& driver = run.Driver();

    ASSERT_TRUE(run.Describe(IDC_STEPS, L"one", L"one"));
    ASSERT_TRUE(PressKey(driver, form, IDC_STEPS, VK_RETURN));
    // The key becomes a character only when the form takes it; type after that.
    ASSERT_TRUE(driver.WaitForText(form, IDC_STEPS, L"one\r\n", 5000)) << driver.Report();
    ASSERT_TRUE(driver.Type(form, IDC_STEPS, L"two"));
    EXPECT_TRUE(driver.WaitForText(form, IDC_STEPS, L"one\r\ntwo", 5000)) << driver.Report();

    // In a description, in the e-mail edit and on the component list.
    ASSERT_TRUE(PressKey(driver, form, IDC_STEPS, VK_ESCAPE));
    ASSERT_TRUE(PressKey(driver, form, IDC_EMAIL, VK_ESCAPE));
    ASSERT_TRUE(PressKey(driver, form, IDC_ELEMENT, VK_ESCAPE));
    // A character posted to the same thread shows once what was posted
    // before it has been handled; three in turn also outlast what handling
    // the keys posts, and what handling that posts. Then the form must
    // still be there, and no box.
    std::wstring shown = L"one\r\ntwo";
    for (const wchar_t* marker : { L"3", L"4", L"5" }) {
        shown += marker;
        ASSERT_TRUE(driver.Type(form, IDC_STEPS, marker));
        ASSERT_TRUE(driver.WaitForText(form, IDC_STEPS, shown, 5000)) << driver.Report();
    }
    EXPECT_EQ(static_cast<HWND>(NULL), driver.WaitForMessageBox(kReporterCaption, 0));
    EXPECT_TRUE(IsWindowVisible(form));
    EXPECT_TRUE(driver.IsRunning());
    ExpectEndsByCancel(run);
}

TEST_F(BugReportForm, EnterInTheEmailEditPressesSend)
{
    FormRun run(L"enter-email");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    UserDriver& driver = run.Driver();
    ASSERT_TRUE(driver.Click(form, IDC_ALLOWCONTACT));
    ASSERT_TRUE(driver.Type(form, IDC_EMAIL, L"me@example.org"));
    ASSERT_TRUE(driver.WaitForText(form, IDC_EMAIL, L"me@example.org", 5000));
    ASSERT_TRUE(PressKey(driver, form, IDC_EMAIL, VK_RETURN));
    // Send ran: its first check refuses the untouched form.
    HWND box = driver.WaitForMessageBox(kReporterCaption, kWindowTimeoutMs);
    EXPECT_TRUE(IsMessageBoxWith(driver, box, L"Please describe the steps to reproduce your bug", { IDOK }));
    ASSERT_TRUE(driver.Click(box, IDOK));
    ASSERT_TRUE(driver.WaitForWindowGone(box, 5000));
    ExpectEndsByCancel(run);
}

struct RefusalRow
{
    const char* name;
    bool fillSteps, focusStepsOnly, fillHappened, fillShouldHappen, tickContact;
    const wchar_t* message;
    int focus;
};

void PrintTo(const RefusalRow& row, std::ostream* os)
{
    *os << row.name;
}

class Refusal : public BugReportForm, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(Refusal, ShowsWhyAndFocusesTheFieldAndKeepsTheForm)
{
    const RefusalRow& row = GetParam();
    FormRun run(L"refusal");
    HWND form = run.Start();
    ASSERT_NE(static_cast<HWND>(NULL), form) << run.Driver().Report();
    UserDriver& driver = run.Driver();

    if (row.focusStepsOnly) {
        ASSERT_TRUE(ClickInto(driver, form, IDC_STEPS));
        ASSERT_TRUE(driver.WaitForText(form, IDC_STEPS, L"", 5000));
    }
    if (row.fillSteps) {
        ASSERT_TRUE(run.Describe(IDC_STEPS, L"s", L"s"));
    }
    if (row.fillHappened) {
        ASSERT_TRUE(run.Describe(IDC_HAPPENED, L"h", L"h"));
    }
    if (row.fillShouldHappen) {
        ASSERT_TRUE(run.Describe(IDC_SHOULDHAPPEN, L"x", L"x"));
    }
    if (row.tickContact) {
        ASSERT_TRUE(driver.Click(form, IDC_ALLOWCONTACT));
    }

    HWND box = run.SendAndWaitForBox();
    EXPECT_TRUE(IsMessageBoxWith(driver, box, row.message, { IDOK }));
    ASSERT_NE(static_cast<HWND>(NULL), box);
    EXPECT_EQ(form, GetWindow(box, GW_OWNER)) << "owned by the form";
    ASSERT_TRUE(driver.Click(box, IDOK));
    ASSERT_TRUE(driver.WaitForWindowGone(box, 5000));

    EXPECT_TRUE(WaitForFocus(form, row.focus, 5000)) << "focus on " << FocusedControlId(form);
    if (row.focus != IDC_EMAIL) {
        // A description that still showed its example is emptied by that focus.
        EXPECT_TRUE(driver.WaitForText(form, row.focus, L"", 5000)) << driver.Report();
        EXPECT_FALSE(IsReadOnly(form, row.focus));
    }
    EXPECT_EQ(0u, CountServerRequests("/bugreport/report/"));
    EXPECT_TRUE(driver.IsRunning());
    ExpectEndsByCancel(run);
}

INSTANTIATE_TEST_SUITE_P(Rows, Refusal, ::testing::Values(
    RefusalRow{ "StepsNeverFocused", false, false, true, true, false,
                L"Please describe the steps to reproduce your bug", IDC_STEPS },
    RefusalRow{ "StepsFocusedLeftEmpty", false, true, true, true, false,
                L"Please describe the steps to reproduce your bug", IDC_STEPS },
    RefusalRow{ "HappenedMissing", true, false, false, true, false, L"Please describe what happened", IDC_HAPPENED },
    RefusalRow{ "ShouldHappenMissing", true, false, true, false, false,
                L"Please describe what should have happened", IDC_SHOULDHAPPEN },
    RefusalRow{ "EmailMissing", true, false, true, true, true, L"Please enter your email address", IDC_EMAIL }
), [](const ::testing::TestParamInfo<RefusalRow>& info) { return std::string(info.param.name); });

}  // namespace
