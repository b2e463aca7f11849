#include "win32/file_reading.h"

#include <windows.h>

bool ReadFileAt(void* file, uint64_t offset, char* buffer, uint32_t size, uint32_t* got)
{
    // The offset rides with the read: one call, and no file position shared.
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(static_cast<HANDLE>(file), buffer, size, &read, &at) && GetLastError() != ERROR_HANDLE_EOF)
        return false;
    *got = read;
    return true;
}
