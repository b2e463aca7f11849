// The key that makes a report's uploads one: made once per report and sent
// with every try of it, so that the server stores the report once however
// often it arrives (a Retry after a lost answer, a Send after Cancel).
#pragma once

#include <windows.h>

#include <string>

// 128 random bits as 32 lowercase hexadecimal digits; the empty text when
// the system has no randomness to give (the upload then goes without one).
std::wstring MakeUploadKey();

// The request header that carries key, "Idempotency-Key: <key>", or the
// empty text for no key.
std::wstring FormatUploadKeyHeader(const std::wstring& key);
