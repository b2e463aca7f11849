// Acts as the user of a program under test: starts it with a command line and
// an environment, finds its message boxes and dialogs by caption, reads their
// texts, types into them and presses their buttons, and keeps a log of what
// it saw and did for the failure messages.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Variables to set in the child's environment; an empty value removes one.
typedef std::vector<std::pair<std::wstring, std::wstring>> EnvironmentChanges;

struct ButtonState
{
    int id;
    std::wstring text;
    bool enabled;
};

// What a window showed when it was read.
struct WindowSnapshot
{
    std::wstring className;
    std::wstring caption;
    std::wstring messageText;            // a message box's text, else empty
    std::vector<std::wstring> texts;     // static texts, in z-order
    std::vector<ButtonState> buttons;    // visible buttons, in z-order
    bool hasIcon = false;                // a static showing an icon
};

class UserDriver
{
public:
    UserDriver();
    ~UserDriver();  // ends the program if it still runs

    UserDriver(const UserDriver&) = delete;
    UserDriver& operator=(const UserDriver&) = delete;

    // Starts program with "program" arguments as its command line.
    bool Start(const std::wstring& program, const std::wstring& arguments,
               const EnvironmentChanges& environment = EnvironmentChanges());

    // The program's visible message box with this caption, or NULL when none
    // appears in time or the program ends first.
    HWND WaitForMessageBox(const std::wstring& caption, DWORD timeoutMs);
    // The program's visible dialog (not a message box) with this caption and
    // a control controlId, or NULL.
    HWND WaitForDialog(const std::wstring& caption, int controlId, DWORD timeoutMs);
    // Waits until the window is gone; false when it is still there.
    bool WaitForWindowGone(HWND window, DWORD timeoutMs);

    // Presses a button with BM_CLICK, posted so the call never waits for
    // what the program does in response.
    bool Click(HWND dialog, int controlId);
    // Types text into a control as WM_CHAR messages.
    bool Type(HWND dialog, int controlId, const std::wstring& text);

    // Waits until a control shows text, e.g. after Type; false when it does not.
    bool WaitForText(HWND dialog, int controlId, const std::wstring& text, DWORD timeoutMs);

    WindowSnapshot Read(HWND window);

    bool WaitForExit(DWORD timeoutMs);
    bool IsRunning() const;
    DWORD ExitCode() const { return m_exitCode; }
    // Everything the program wrote to standard output and error.
    std::string Output() const;
    // Every dialog and message box (class #32770) the program made, in
    // order, as "#32770 'caption'"; a window gone before the driver could
    // read it is only noted in the report.
    std::vector<std::wstring> ShownWindows() const { return m_shown; }
    // The log of what was seen and done, for failure messages.
    std::string Report() const;
    void Note(const std::wstring& line);

private:
    HWND FindWindowOfProcess(const std::wstring& caption, bool messageBox, int controlId) const;
    void Pump(DWORD ms);
    static void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD);

    PROCESS_INFORMATION m_process;
    HWINEVENTHOOK m_hook;
    struct OutputReader* m_reader;
    DWORD m_exitCode;
    std::vector<std::wstring> m_log;
    std::vector<std::wstring> m_shown;
    std::vector<HWND> m_seenHandles;
};

// Text of a window or control, also of another process.
std::wstring ReadWindowText(HWND window);

// Writes UTF-16 text as UTF-8, for failure messages.
std::string Narrow(const std::wstring& text);
