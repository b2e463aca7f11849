// Crashes on purpose, the way chosen by its first argument, through three
// nested calls of its own, and writes a minidump of the crash to the path in
// its second argument from its unhandled-exception filter, as Brevora does.
//
//   crash_maker.exe null-read|null-write|library|throw|divide|fail-fast DUMP
//
// Exit status 10 after the dump was written, 11 when it could not be, 2 on
// bad arguments or when nothing crashed. Built with frame pointers and its COFF symbols kept, so that
// each way of walking the stack has something to follow.
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>

static wchar_t g_dumpPath[MAX_PATH];

static LONG WINAPI WriteDumpOfCrash(EXCEPTION_POINTERS* pointers)
{
    HANDLE file = CreateFileW(g_dumpPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        ExitProcess(11);
    MINIDUMP_EXCEPTION_INFORMATION exception = {};
    exception.ThreadId = GetCurrentThreadId();
    exception.ExceptionPointers = pointers;
    exception.ClientPointers = FALSE;
    BOOL written = MiniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file,
                                     MiniDumpNormal, &exception, nullptr, nullptr);
    CloseHandle(file);
    ExitProcess(written ? 10 : 11);
}

// Volatile so that the compiler keeps each fault as written.
static int* volatile g_null = nullptr;
static const char* volatile g_badText = reinterpret_cast<const char*>(16);
static volatile int g_zero = 0;

// noinline keeps the three frames the tests look for.
extern "C" __attribute__((noinline)) int CrashInnermost(const char* how)
{
    if (std::strcmp(how, "null-read") == 0)
        return *g_null;
    if (std::strcmp(how, "null-write") == 0) {
        *g_null = 7;
        return 0;
    }
    if (std::strcmp(how, "library") == 0)
        return static_cast<int>(std::strlen(g_badText));
    if (std::strcmp(how, "throw") == 0)
        throw std::runtime_error("thrown on purpose");
    if (std::strcmp(how, "divide") == 0)
        return 100 / g_zero;
    if (std::strcmp(how, "fail-fast") == 0)
        // __fastfail(FAST_FAIL_FATAL_APP_EXIT), which MinGW's headers lack.
        asm volatile("int $0x29" : : "c"(7));
    return -1;
}

extern "C" __attribute__((noinline)) int CrashMiddle(const char* how)
{
    int result = CrashInnermost(how);
    return result + 1;
}

extern "C" __attribute__((noinline)) int CrashOutermost(const char* how)
{
    int result = CrashMiddle(how);
    return result + 1;
}

// MinGW's runtime ends a throw that nobody catches in std::terminate rather
// than in the filter. Raise, from within the throw's own stack, what an
// MSVC-built program's uncaught throw raises: code 0xE06D7363 with the
// runtime's magic number first.
[[noreturn]] static void RaiseUncaughtThrow()
{
    const ULONG_PTR parameters[4] = {0x19930520, 0, 0, 0};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 4, parameters);
    ExitProcess(11);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3 || wcslen(argv[2]) >= MAX_PATH)
        return 2;
    wcscpy(g_dumpPath, argv[2]);
    char how[32] = {};
    if (WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, how, sizeof how, nullptr, nullptr) == 0)
        return 2;
    SetUnhandledExceptionFilter(WriteDumpOfCrash);
    std::set_terminate(RaiseUncaughtThrow);
    int result = CrashOutermost(how);
    std::printf("no crash: %d\n", result);
    return 2;
}
