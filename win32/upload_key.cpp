#include "win32/upload_key.h"

#include <bcrypt.h>

static const ULONG kKeyBytes = 16;

std::wstring MakeUploadKey()
{
    UCHAR bytes[kKeyBytes];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(NULL, bytes, kKeyBytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return std::wstring();
    static const WCHAR kDigits[] = L"0123456789abcdef";
    std::wstring key;
    for (UCHAR byte : bytes) {
        key += kDigits[byte >> 4];
        key += kDigits[byte & 0x0F];
    }
    return key;
}

std::wstring FormatUploadKeyHeader(const std::wstring& key)
{
    return key.empty() ? std::wstring() : L"Idempotency-Key: " + key;
}
