#include "bugreport/app_log_path.h"

#include <cwchar>

static const wchar_t kAppLogRelativePath[] = L"\\.brevora\\brevora.log";

void ComposeAppLogPath(const wchar_t* profileDir, wchar_t* path, size_t capacity)
{
    if (capacity < 2)
        return;
    const size_t dirLength = profileDir != nullptr ? std::wcslen(profileDir) : 0;
    const size_t tailLength = sizeof kAppLogRelativePath / sizeof kAppLogRelativePath[0] - 1;
    if (dirLength == 0 || dirLength + tailLength >= capacity) {
        path[0] = L'.';
        path[1] = L'\0';
        return;
    }
    std::wmemcpy(path, profileDir, dirLength);
    std::wmemcpy(path + dirLength, kAppLogRelativePath, tailLength + 1);
}
