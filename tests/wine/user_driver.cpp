#include "tests/wine/user_driver.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <map>

namespace {

// The one driver whose program the event hook watches.
UserDriver* g_pWatchingDriver = NULL;

// Collects a child's standard output on a thread of its own, so a chatty
// program never blocks on a full pipe. Left behind (not freed) when the pipe
// is still held open by a grandchild at destruction.
struct ReaderState
{
    HANDLE pipe;
    CRITICAL_SECTION lock;
    std::string text;
};

DWORD WINAPI ReadPipe(LPVOID parameter)
{
    ReaderState* state = static_cast<ReaderState*>(parameter);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(state->pipe, buffer, sizeof(buffer), &got, NULL) && got > 0) {
        EnterCriticalSection(&state->lock);
        state->text.append(buffer, got);
        LeaveCriticalSection(&state->lock);
    }
    return 0;
}

std::wstring ClassOf(HWND window)
{
    WCHAR name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

// A message box has only static texts and buttons with the standard
// answers' identifiers (IDOK .. IDCONTINUE), one of the statics being the
// text with identifier 0xFFFF.
bool IsMessageBoxWindow(HWND window)
{
    if (ClassOf(window) != L"#32770")
        return false;
    bool hasText = false, hasButton = false, foreign = false;
    for (HWND child = GetWindow(window, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        std::wstring cls = ClassOf(child);
        int id = GetDlgCtrlID(child);
        if (EqualsNoCase(cls, L"Static")) {
            hasText = hasText || (id == 0xFFFF);
        } else if (EqualsNoCase(cls, L"Button") && id >= IDOK && id <= 11) {
            hasButton = true;
        } else {
            foreign = true;
        }
    }
    return hasText && hasButton && !foreign;
}

std::wstring Quote(const std::wstring& text)
{
    std::wstring quoted = L"'";
    for (wchar_t c : text) {
        if (c == L'\n')
            quoted += L"\\n";
        else if (c == L'\r')
            quoted += L"\\r";
        else
            quoted += c;
    }
    return quoted + L"'";
}

std::vector<WCHAR> BuildEnvironment(const EnvironmentChanges& changes)
{
    // Name (upper case) to "Name=value", so replacing ignores case as Windows does.
    std::map<std::wstring, std::wstring> entries;
    LPWCH block = GetEnvironmentStringsW();
    for (const WCHAR* p = block; *p != L'\0'; p += wcslen(p) + 1) {
        std::wstring entry(p);
        size_t equals = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
        std::wstring name = entry.substr(0, equals);
        std::transform(name.begin(), name.end(), name.begin(), ::towupper);
        entries[name] = entry;
    }
    FreeEnvironmentStringsW(block);
    for (const auto& change : changes) {
        std::wstring name = change.first;
        std::transform(name.begin(), name.end(), name.begin(), ::towupper);
        if (change.second.empty())
            entries.erase(name);
        else
            entries[name] = change.first + L"=" + change.second;
    }
    std::vector<WCHAR> result;
    for (const auto& entry : entries) {
        result.insert(result.end(), entry.second.begin(), entry.second.end());
        result.push_back(L'\0');
    }
    result.push_back(L'\0');
    return result;
}

}  // namespace

struct OutputReader
{
    ReaderState* state;
    HANDLE thread;
};

std::string Narrow(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string utf8(bytes, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, NULL, NULL);
    return utf8;
}

std::wstring ReadWindowText(HWND window)
{
    // WM_GETTEXT reaches into the other process; GetWindowTextW would not for controls.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return std::wstring();
    std::vector<WCHAR> text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return std::wstring();
    return std::wstring(text.data(), std::min<size_t>(copied, length));
}

UserDriver::UserDriver() : m_process(), m_hook(NULL), m_reader(NULL), m_exitCode(STILL_ACTIVE) {}

UserDriver::~UserDriver()
{
    if (m_process.hProcess != NULL) {
        if (IsRunning()) {
            Note(L"still running at the end: terminated");
            TerminateProcess(m_process.hProcess, 99);
            WaitForSingleObject(m_process.hProcess, 5000);
        }
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
    }
    if (m_hook != NULL)
        UnhookWinEvent(m_hook);
    if (g_pWatchingDriver == this)
        g_pWatchingDriver = NULL;
    if (m_reader != NULL) {
        if (WaitForSingleObject(m_reader->thread, 5000) == WAIT_OBJECT_0) {
            CloseHandle(m_reader->state->pipe);
            DeleteCriticalSection(&m_reader->state->lock);
            delete m_reader->state;
        }
        CloseHandle(m_reader->thread);
        delete m_reader;
    }
}

bool UserDriver::Start(const std::wstring& program, const std::wstring& arguments,
                       const EnvironmentChanges& environment)
{
    SECURITY_ATTRIBUTES sa = { sizeof(sa), NULL, TRUE };
    HANDLE readEnd = NULL, writeEnd = NULL;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;

    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    std::vector<WCHAR> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    std::vector<WCHAR> env = BuildEnvironment(environment);

    Note(L"start: " + commandLine);
    for (const auto& change : environment)
        Note(L"  env " + change.first + L"=" + Quote(change.second));
    BOOL started = CreateProcessW(program.c_str(), line.data(), NULL, NULL, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                  env.data(), NULL, &si, &m_process);
    CloseHandle(writeEnd);
    if (!started) {
        Note(L"could not start, error " + std::to_wstring(GetLastError()));
        CloseHandle(readEnd);
        return false;
    }

    m_reader = new OutputReader();
    m_reader->state = new ReaderState();
    m_reader->state->pipe = readEnd;
    InitializeCriticalSection(&m_reader->state->lock);
    m_reader->thread = CreateThread(NULL, 0, ReadPipe, m_reader->state, 0, NULL);

    g_pWatchingDriver = this;
    // Wine delivers other processes' events only to hooks on every process.
    m_hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, NULL, OnWinEvent, 0, 0,
                             WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    return true;
}

void CALLBACK UserDriver::OnWinEvent(HWINEVENTHOOK, DWORD, HWND window, LONG idObject, LONG idChild,
                                     DWORD eventThread, DWORD)
{
    UserDriver* driver = g_pWatchingDriver;
    if (driver == NULL || idObject != OBJID_WINDOW || idChild != CHILDID_SELF || window == NULL)
        return;
    // The program runs its whole user interface on its main thread.
    if (eventThread != driver->m_process.dwThreadId)
        return;
    if (std::find(driver->m_seenHandles.begin(), driver->m_seenHandles.end(), window) != driver->m_seenHandles.end())
        return;
    if (!IsWindow(window)) {
        driver->Note(L"a window was gone before it could be read");
        return;
    }
    if (GetAncestor(window, GA_PARENT) != GetDesktopWindow() || ClassOf(window) != L"#32770")
        return;
    driver->m_seenHandles.push_back(window);
    // The caption without a message: the program may be busy right now.
    WCHAR caption[512] = L"";
    GetWindowTextW(window, caption, 512);
    std::wstring seen = L"#32770 " + Quote(caption);
    driver->m_shown.push_back(seen);
    driver->Note(L"appeared: " + seen);
}

void UserDriver::Pump(DWORD ms)
{
    DWORD end = GetTickCount() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DWORD now = GetTickCount();
        if (static_cast<LONG>(end - now) <= 0)
            return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, end - now, QS_ALLINPUT);
    }
}

namespace {

struct FindContext
{
    DWORD processId;
    const std::wstring* caption;
    bool messageBox;
    int controlId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    FindContext* context = reinterpret_cast<FindContext*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != context->processId || !IsWindowVisible(window))
        return TRUE;
    WCHAR caption[512] = L"";
    GetWindowTextW(window, caption, 512);
    if (*context->caption != caption)
        return TRUE;
    bool isBox = IsMessageBoxWindow(window);
    if (context->messageBox != isBox)
        return TRUE;
    if (context->controlId != 0 && GetDlgItem(window, context->controlId) == NULL)
        return TRUE;
    context->found = window;
    return FALSE;
}

}  // namespace

HWND UserDriver::FindWindowOfProcess(const std::wstring& caption, bool messageBox, int controlId) const
{
    FindContext context = { m_process.dwProcessId, &caption, messageBox, controlId, NULL };
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

HWND UserDriver::WaitForMessageBox(const std::wstring& caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        HWND box = FindWindowOfProcess(caption, true, 0);
        if (box != NULL) {
            WindowSnapshot s = Read(box);
            Note(L"message box " + Quote(s.caption) + L": " + Quote(s.messageText));
            return box;
        }
        if (!IsRunning())
            break;
        Pump(20);
    } while (GetTickCount() - start < timeoutMs);
    Note(L"no message box " + Quote(caption) + (IsRunning() ? L" (timed out)" : L" (program ended)"));
    return NULL;
}

HWND UserDriver::WaitForDialog(const std::wstring& caption, int controlId, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        HWND dialog = FindWindowOfProcess(caption, false, controlId);
        if (dialog != NULL) {
            Note(L"dialog " + Quote(caption));
            return dialog;
        }
        if (!IsRunning())
            break;
        Pump(20);
    } while (GetTickCount() - start < timeoutMs);
    Note(L"no dialog " + Quote(caption) + (IsRunning() ? L" (timed out)" : L" (program ended)"));
    return NULL;
}

bool UserDriver::WaitForWindowGone(HWND window, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Pump(20);
    }
    return true;
}

WindowSnapshot UserDriver::Read(HWND window)
{
    WindowSnapshot s;
    s.className = ClassOf(window);
    s.caption = ReadWindowText(window);
    for (HWND child = GetWindow(window, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child))
            continue;
        std::wstring cls = ClassOf(child);
        int id = GetDlgCtrlID(child);
        if (EqualsNoCase(cls, L"Button")) {
            s.buttons.push_back({ id, ReadWindowText(child), IsWindowEnabled(child) != FALSE });
        } else if (EqualsNoCase(cls, L"Static")) {
            DWORD_PTR icon = 0;
            SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon);
            if (icon != 0) {
                s.hasIcon = true;
                continue;
            }
            std::wstring text = ReadWindowText(child);
            if (id == 0xFFFF && IsMessageBoxWindow(window))
                s.messageText = text;
            s.texts.push_back(text);
        }
    }
    return s;
}

bool UserDriver::Click(HWND dialog, int controlId)
{
    HWND button = GetDlgItem(dialog, controlId);
    Note(L"press " + std::to_wstring(controlId) + L" " + Quote(button != NULL ? ReadWindowText(button) : L"(missing)"));
    return button != NULL && PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

bool UserDriver::Type(HWND dialog, int controlId, const std::wstring& text)
{
    HWND control = GetDlgItem(dialog, controlId);
    Note(L"type into " + std::to_wstring(controlId) + L": " + Quote(text));
    if (control == NULL)
        return false;
    for (wchar_t c : text) {
        if (!PostMessageW(control, WM_CHAR, c, 1))
            return false;
    }
    return true;
}

bool UserDriver::WaitForText(HWND dialog, int controlId, const std::wstring& text, DWORD timeoutMs)
{
    HWND control = GetDlgItem(dialog, controlId);
    DWORD start = GetTickCount();
    std::wstring current;
    for (;;) {
        current = control != NULL ? ReadWindowText(control) : std::wstring();
        if (current == text)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            break;
        Pump(20);
    }
    Note(L"control " + std::to_wstring(controlId) + L" shows " + Quote(current) + L", not " + Quote(text));
    return false;
}

bool UserDriver::IsRunning() const
{
    return m_process.hProcess != NULL && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

bool UserDriver::WaitForExit(DWORD timeoutMs)
{
    if (m_process.hProcess == NULL)
        return false;
    DWORD start = GetTickCount();
    while (IsRunning()) {
        if (GetTickCount() - start >= timeoutMs) {
            Note(L"did not end within " + std::to_wstring(timeoutMs) + L" ms");
            return false;
        }
        Pump(20);
    }
    GetExitCodeProcess(m_process.hProcess, &m_exitCode);
    // Let the reader take the last output; a grandchild may hold the pipe.
    if (m_reader != NULL)
        WaitForSingleObject(m_reader->thread, 2000);
    Note(L"ended with status " + std::to_wstring(m_exitCode));
    return true;
}

std::string UserDriver::Output() const
{
    if (m_reader == NULL)
        return std::string();
    EnterCriticalSection(&m_reader->state->lock);
    std::string text = m_reader->state->text;
    LeaveCriticalSection(&m_reader->state->lock);
    return text;
}

void UserDriver::Note(const std::wstring& line)
{
    m_log.push_back(line);
}

std::string UserDriver::Report() const
{
    std::string report = "what the user saw and did:\n";
    for (const std::wstring& line : m_log)
        report += "  " + Narrow(line) + "\n";
    report += "output: " + Output() + "\n";
    return report;
}
